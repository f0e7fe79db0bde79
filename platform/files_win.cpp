#include "platform/files.h"

#include <windows.h>

#include <io.h>

namespace platform {

int SeekFile(std::FILE* file, int64_t offset, int whence) {
  return _fseeki64(file, offset, whence);
}

int64_t TellFile(std::FILE* file) {
  return _ftelli64(file);
}

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool FlushFileData(std::FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool AcquireInstanceLock() {
  // The handle stays open until the process ends; the system releases the mutex then.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\Corvane Setup");
  if (!mutex) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

} // namespace platform
