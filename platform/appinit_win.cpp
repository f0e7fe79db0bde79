#include "platform/appinit.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

void RestrictDllSearch() {
  // Looked up by name: Windows 7 has the call only with its update KB2533623. Without it, the
  // current folder at least leaves the search.
  using Fn = BOOL(WINAPI*)(DWORD);
  const auto restrict = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (!restrict || !restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

// Every Windows thread has its message queue already.
void InitializeConsoleApplication() {}

void SetBinaryStandardOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace platform
