#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace platform {

int SeekFile(std::FILE* file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence);
}

int64_t TellFile(std::FILE* file) {
  return static_cast<int64_t>(ftello(file));
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool FlushFileData(std::FILE* file) {
  return fdatasync(fileno(file)) == 0;
}

bool AcquireInstanceLock() {
  // Under the prefix's C: drive: every installer that writes into this prefix sees the same file.
  const std::string path = NativePath("C:\\windows\\temp\\Corvane Setup.lock");
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return true; // no lock file can be made: nothing to share it with either
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  return true; // the descriptor stays open, and the lock held, until the process ends
}

} // namespace platform
