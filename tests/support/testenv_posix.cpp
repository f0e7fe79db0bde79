#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

RunningProgram::RunningProgram(const std::string& path) {
  WriteFile(path, NotingProgram(0));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, path.c_str(), O_RDONLY, 0);
  char sleep[] = "sleep", seconds[] = "600";
  char* argv[] = {sleep, seconds, nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error) throw std::runtime_error("cannot start sleep");
  process_ = pid;
  // Held once the child has opened it.
  for (int i = 0; i < 500; ++i) {
    struct stat held {
    }, file{};
    const std::string fd = "/proc/" + std::to_string(pid) + "/fd/0";
    if (stat(fd.c_str(), &held) == 0 && stat(path.c_str(), &file) == 0 &&
        held.st_ino == file.st_ino)
      return;
    usleep(10000);
  }
  throw std::runtime_error("sleep did not open " + path);
}

RunningProgram::~RunningProgram() {
  const pid_t pid = static_cast<pid_t>(process_);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
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

// Writes to /dev/full fail: no descriptor is closed, so nothing opened meanwhile can take its
// place.
ScopedNoStandardStreams::ScopedNoStandardStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  for (int fd : {1, 2}) {
    saved_[fd - 1] = dup(fd);
    dup2(full, fd);
  }
  close(full);
}

ScopedNoStandardStreams::~ScopedNoStandardStreams() {
  for (int fd : {1, 2}) {
    dup2(static_cast<int>(saved_[fd - 1]), fd);
    close(static_cast<int>(saved_[fd - 1]));
  }
  std::clearerr(stdout);
  std::clearerr(stderr);
}

} // namespace testenv
