#include "platform/process.h"

#include <windows.h>

#include <vector>

namespace platform {

int RunAndWait(const std::string& path) {
  // The command line takes the short form when the file system has one; it is not quoted.
  std::string commandLine = path;
  if (DWORD n = GetShortPathNameA(path.c_str(), nullptr, 0); n > 0) {
    std::vector<char> shortPath(n);
    if (GetShortPathNameA(path.c_str(), shortPath.data(), n) > 0) commandLine = shortPath.data();
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

} // namespace platform
