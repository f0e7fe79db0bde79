#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/paths.h"
#include "platform/program.h"

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return args;
}

std::string ProgramFile() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

bool WriteStandardStream(const std::string& text, bool toError) {
  std::FILE* stream = toError ? stderr : stdout;
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
         std::fflush(stream) == 0;
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A mapping of the file: "address perms offset dev inode path", the inode and path matching.
bool Maps(const std::string& pid, const struct stat& file, const std::string& path) {
  std::ifstream maps("/proc/" + pid + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string address, perms, offset, dev, mapped;
    unsigned long long inode = 0;
    if (!(fields >> address >> perms >> offset >> dev >> inode) || inode != file.st_ino) continue;
    std::getline(fields >> std::ws, mapped);
    if (mapped == path) return true;
  }
  return false;
}

} // namespace

namespace {

// The processes (other than this one) that have the file open or mapped.
std::vector<pid_t> Holders(const std::string& path) {
  std::vector<pid_t> holders;
  const std::string native = NativePath(path);
  struct stat file {};
  if (stat(native.c_str(), &file) != 0) return holders;
  std::error_code ec;
  const std::string canonical = std::filesystem::canonical(native, ec).string();
  DIR* proc = opendir("/proc");
  if (!proc) return holders;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(getpid()))
      continue;
    bool used = false;
    const std::string fds = "/proc/" + pid + "/fd";
    if (DIR* dir = opendir(fds.c_str())) {
      while (const dirent* fd = readdir(dir)) {
        struct stat target {};
        if (fd->d_name[0] != '.' && stat((fds + "/" + fd->d_name).c_str(), &target) == 0 &&
            SameFile(target, file))
          used = true;
      }
      closedir(dir);
    }
    if (used || Maps(pid, file, canonical)) holders.push_back(static_cast<pid_t>(std::stol(pid)));
  }
  closedir(proc);
  return holders;
}

} // namespace

bool FileInUse(const std::string& path) {
  return !Holders(path).empty();
}

std::vector<std::string> ProgramsUsing(const std::string& path) {
  std::vector<std::string> names;
  for (pid_t pid : Holders(path)) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
  return names;
}

bool CloseProgramsUsing(const std::string& path) {
  for (pid_t pid : Holders(path))
    kill(pid, SIGTERM);
  // As long as a program may take to save and end, polled.
  for (int i = 0; i < 100 && FileInUse(path); ++i)
    usleep(100 * 1000);
  return !FileInUse(path);
}

bool CopyProgramFile(const std::string& dest) {
  const std::string self = ProgramFile(), native = NativePath(dest);
  std::error_code ec;
  if (self.empty()) return false;
  if (std::filesystem::equivalent(self, native, ec)) return true;
  const std::string temp = native + ".part";
  if (!std::filesystem::copy_file(self, temp, std::filesystem::copy_options::overwrite_existing,
                                  ec)) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  std::filesystem::rename(temp, native, ec);
  if (!ec) return true;
  std::filesystem::remove(temp, ec);
  return false;
}

// A running program's file can go like any other: the process keeps what it mapped.
bool RemoveProgramFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(NativePath(path), ec);
  return !ec;
}

} // namespace platform
