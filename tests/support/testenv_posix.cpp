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

std::string ExitingProgram(const std::string& dir, int exitCode) {
  std::string path = dir + "/exit" + std::to_string(exitCode) + ".exe";
  WriteFile(path,
            "#!/bin/sh\nsleep 0.2\necho $# > \"$0.ran\"\nexit " + std::to_string(exitCode) + "\n");
  chmod(path.c_str(), 0644);
  return path;
}

std::string WineVersion() {
  return {};
}

} // namespace testenv
