#include "platform/paths.h"

#include <windows.h>

#include <cstdlib>

#include "platform/text.h"

namespace platform {

std::string NativePath(const std::string& path) {
  return path;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}

int64_t FileLength(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                              data.nFileSizeLow);
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Utf8ToWide(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  // Written through: on the disk when it returns, as SyncFolderOf promises on Linux.
  return MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool CutFile(const std::string& path, int64_t length) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = length;
  bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  return ok;
}

std::string WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix ? prefix : "";
}

} // namespace platform
