#include "platform/text.h"
#include "platform/winapi_base.h"

#include <cstring>
#include <vector>

namespace win {

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  const std::wstring name = platform::Utf8ToWide(lpName);
  std::vector<wchar_t> value(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n =
        GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return 0;
    if (n < value.size()) {
      const std::string utf8 = platform::WideToUtf8(std::wstring_view(value.data(), n));
      if (utf8.size() >= nSize) return static_cast<DWORD>(utf8.size() + 1);
      std::memcpy(lpBuffer, utf8.c_str(), utf8.size() + 1);
      return static_cast<DWORD>(utf8.size());
    }
    value.resize(n);
  }
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  return GetFileAttributesW(platform::Utf8ToWide(lpFileName).c_str());
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return CreateDirectoryW(platform::Utf8ToWide(lpPathName).c_str(), lpSecurityAttributes);
}

} // namespace win
