#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "platform/winapi_base.h"
#include "platform/winapi_posix.h"

namespace platform {

int SeekFile(std::FILE* file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence);
}

int64_t TellFile(std::FILE* file) {
  return static_cast<int64_t>(ftello(file));
}

unsigned long LastFileError() {
  return detail::ErrorFromErrno(errno);
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool FlushFileData(std::FILE* file) {
  return fdatasync(fileno(file)) == 0;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text) {
  const std::string target = NativePath(path);
  const std::string temp = target + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < text.size();) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // The rename is on the disk only once its directory is.
  return SyncFolderOf(path);
}

bool SyncFolderOf(const std::string& path) {
  const std::string dir = std::filesystem::path(NativePath(path)).parent_path().string();
  const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return ok;
}

bool AcquireInstanceLock() {
  // Under the prefix's C: drive: every installer that writes into this prefix sees the same file.
  const std::string path = NativePath("C:\\windows\\temp\\Corvane Setup.lock");
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // Made by another user under a narrower umask: a read-only descriptor locks it all the same.
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  fchmod(fd, 0666); // every user's installer can open it; fails harmlessly on another's file
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  return true; // the descriptor stays open, and the lock held, until the process ends
}

bool CreateProgramDirectory(const std::string& path) {
  if (!win::CreateDirectoryA(path.c_str(), nullptr)) return false;
  chmod(NativePath(path).c_str(), 0755); // whatever the umask left of it
  return true;
}

ProgramDirectoryState SecureProgramDirectory(const std::string& path) {
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '/')
    native.pop_back(); // a closing "/" would follow a link
  // The directory itself, held open: what is checked is what is changed.
  const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    struct stat st {};
    return lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? ProgramDirectoryState::Link
                                                                  : ProgramDirectoryState::Failed;
  }
  struct stat st {};
  ProgramDirectoryState state = ProgramDirectoryState::Failed;
  if (fstat(fd, &st) != 0)
    state = ProgramDirectoryState::Failed;
  else if (st.st_uid != geteuid() && st.st_uid != 0)
    state = ProgramDirectoryState::OtherOwner;
  else if (fchmod(fd, 0755) == 0 || (st.st_mode & 022) == 0)
    state = ProgramDirectoryState::Secured;
  close(fd);
  return state;
}

} // namespace platform
