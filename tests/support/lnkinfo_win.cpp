#include <windows.h>

#include <string>

#include "support/lnkinfo.h"
#include "support/testenv.h"

namespace testenv {

namespace {

// Wine's own export: the Linux path of a Windows one.
std::string UnixPath(const std::string& file) {
  using Fn = char*(CDECL*)(LPCWSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (!fn) return {};
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  char* unix = fn(wide.c_str());
  if (!unix) return {};
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

} // namespace

// Wine starts a Linux program when it is named by its path on drive Z:. It does not hand such a
// program our pipes, its exit status or its end, so a shell writes lnkinfo's output into a file
// that appears, renamed, only when it is complete.
std::optional<std::string> RunLnkinfo(const std::string& file) {
  std::string unixPath = UnixPath(file);
  std::string outFile = file + ".lnkinfo.txt";
  std::string unixOut = UnixPath(outFile);
  if (unixPath.empty() || unixOut.empty()) return std::nullopt;
  auto quoted = [](const std::string& text) {
    std::string q = "'";
    for (char c : text)
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  std::string script = "lnkinfo " + quoted(unixPath) + " >" + quoted(unixOut + ".part") +
                       " 2>/dev/null; mv " + quoted(unixOut + ".part") + " " + quoted(unixOut);
  std::string command = "Z:\\bin\\sh -c \"" + script + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA("Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi))
    return std::nullopt;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (int waited = 0; !Exists(outFile) && waited < 10000; waited += 10)
    Sleep(10);
  std::string out = ReadFile(outFile);
  DeleteFileA(outFile.c_str());
  // A file lnkinfo could read has its fields.
  if (out.find("Windows Shortcut information:") == std::string::npos) return std::nullopt;
  return out;
}

} // namespace testenv
