#include "platform/process.h"

#include <windows.h>

#include <vector>

#include "platform/msgloop.h"
#include "platform/text.h"

namespace platform {

namespace {

// The path as the child's command line: its short form where the file system has one, else the
// path itself, quoted when a space would split it into several words.
std::wstring CommandLineOf(const std::wstring& path) {
  if (DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0); n > 0) {
    std::vector<wchar_t> shortPath(n);
    if (GetShortPathNameW(path.c_str(), shortPath.data(), n) > 0) {
      std::wstring line = shortPath.data();
      if (line.find_first_of(L" \t") == std::wstring::npos) return line;
    }
  }
  if (path.find_first_of(L" \t") == std::wstring::npos) return path;
  return L"\"" + path + L"\"";
}

} // namespace

int RunAndWait(const std::string& path, const std::string& arguments) {
  const std::wstring file = Utf8ToWide(path);
  std::wstring commandLine = CommandLineOf(file);
  if (!arguments.empty()) commandLine += L" " + Utf8ToWide(arguments);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // In its own folder: a self-extracting archive that writes beside itself must not write into
  // wherever the installer was started from (often Downloads).
  const size_t slash = file.find_last_of(L"\\/");
  const std::wstring folder =
      slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
  if (!CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &si, &pi))
    return -1; // GetLastError says why
  CloseHandle(pi.hThread);
  {
    // The windows stay alive (painted, answering the system) and take no input until the child
    // has ended; a close meant for them reaches the message loop after the wait.
    InputSuspension noInput;
    for (;;) {
      const DWORD woke =
          MsgWaitForMultipleObjectsEx(1, &pi.hProcess, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (woke == WAIT_OBJECT_0) break;
      if (woke == WAIT_FAILED) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        break;
      }
      ProcessMessages();
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

} // namespace platform
