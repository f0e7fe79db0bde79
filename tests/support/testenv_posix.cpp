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

std::string WineVersion() {
  return {};
}

} // namespace testenv
