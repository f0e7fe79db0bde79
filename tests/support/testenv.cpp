#include "support/testenv.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testenv {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* v = std::getenv(name_.c_str())) old_ = v;
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() {
  SetEnv(name_, old_);
}

TempDir::TempDir() : path_(MakeTempDir()) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

} // namespace testenv
