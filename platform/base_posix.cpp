// Environment, files and directories, last error and Sleep for the Linux stand-in.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "platform/winapi_base.h"
#include "platform/winapi_posix.h"

extern char** environ;

namespace {

thread_local win::DWORD lastError = ERROR_SUCCESS;

bool SameName(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<std::string> LookUp(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  if (const char* exact = std::getenv(name.c_str())) return std::string(exact);
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq && static_cast<size_t>(eq - *e) == name.size() &&
        SameName(*e, name.c_str(), name.size()))
      return std::string(eq + 1);
  }
  return std::nullopt;
}

// Windows always has the profile folder that its APPDATA names; the prefix may not have it yet.
std::string DefaultAppData() {
  std::string value = "C:\\users\\" + platform::detail::UserName() + "\\AppData\\Roaming";
  std::error_code ec;
  std::filesystem::create_directories(platform::NativePath(value), ec);
  return value;
}

win::DWORD FromErrno(int err) {
  switch (err) {
  case ENOSPC:
  case EDQUOT:
    return ERROR_DISK_FULL;
  case EEXIST:
    return ERROR_ALREADY_EXISTS;
  case ENOENT:
  case ENOTDIR:
    return ERROR_PATH_NOT_FOUND;
  case EACCES:
  case EPERM:
  case EROFS:
    return ERROR_ACCESS_DENIED;
  case ENAMETOOLONG:
    return ERROR_FILENAME_EXCED_RANGE;
  default:
    return ERROR_INVALID_NAME;
  }
}

// True for paths that live on drive C: (a drive letter C or a leading backslash).
bool OnDriveC(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path[0] == 'c' || path[0] == 'C';
  return !path.empty() && path[0] == '\\';
}

} // namespace

namespace platform::detail {

unsigned long ErrorFromErrno(int err) {
  // Calls that must fail with some code take ERROR_INVALID_NAME for an error without its own;
  // a reason given to the user is none rather than that one.
  const win::DWORD error = FromErrno(err);
  return error == ERROR_INVALID_NAME ? ERROR_SUCCESS : error;
}

} // namespace platform::detail

namespace win {

DWORD GetLastError() {
  return lastError;
}
void SetLastError(DWORD dwErrCode) {
  lastError = dwErrCode;
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  const std::string name = lpName ? lpName : "";
  std::optional<std::string> value = LookUp(name);
  if (!value && name.size() == 7 && SameName(name.c_str(), "APPDATA", 7)) value = DefaultAppData();
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  const DWORD len = static_cast<DWORD>(value->size());
  if (!lpBuffer || nSize <= len) return len + 1;
  std::memcpy(lpBuffer, value->data(), len);
  lpBuffer[len] = '\0';
  return len;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  const std::string native = platform::NativePath(lpFileName ? lpFileName : "");
  struct stat st {};
  if (native.empty() || ::stat(native.c_str(), &st) != 0) {
    DWORD error = FromErrno(errno);
    std::error_code ec;
    if (errno == ENOENT &&
        std::filesystem::is_directory(std::filesystem::path(native).parent_path(), ec))
      error = ERROR_FILE_NOT_FOUND;
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attrs = FILE_ATTRIBUTE_ARCHIVE;
  if (::access(native.c_str(), W_OK) != 0) attrs |= FILE_ATTRIBUTE_READONLY;
  return attrs;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  const std::string path = lpPathName ? lpPathName : "";
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  // C:\ always exists on Windows; a fresh prefix may lack its drive_c.
  if (OnDriveC(path)) {
    std::error_code ec;
    std::filesystem::create_directories(platform::WinePrefix() + "/drive_c", ec);
  }
  if (::mkdir(platform::NativePath(path).c_str(), 0777) != 0) {
    SetLastError(FromErrno(errno));
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

} // namespace win
