#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/testenv.h"

namespace testenv {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
}

std::string MakeTempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/corvane-test-XXXXXX";
  if (!mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  return base;
}

std::string NotingProgram(int exitCode) {
  return "#!/bin/sh\nsleep 0.2\necho $# > \"$0.ran\"\nexit " + std::to_string(exitCode) + "\n";
}

std::string UnstartableProgram() {
  return "#!/nonexistent/interpreter\n";
}

std::string ExitingProgram(const std::string& dir, int exitCode) {
  std::string path = dir + "/exit" + std::to_string(exitCode) + ".exe";
  WriteFile(path, NotingProgram(exitCode));
  chmod(path.c_str(), 0644);
  return path;
}

// A prefix of its own: nothing needs clearing.
ScopedDriveC::ScopedDriveC(std::vector<std::string> cleared) : cleared_(std::move(cleared)) {
  const std::string prefix = MakeTempDir();
  path_ = prefix + "/drive_c";
  std::filesystem::create_directories(path_);
  if (const char* old = std::getenv("WINEPREFIX")) saved_ = old;
  SetEnv("WINEPREFIX", prefix);
}

ScopedDriveC::~ScopedDriveC() {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path_).parent_path(), ec);
  SetEnv("WINEPREFIX", saved_);
}

std::string WineVersion() {
  return {};
}

} // namespace testenv
