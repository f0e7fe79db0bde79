// A DLL that a web page could drop beside the installer, under the name of one the installer
// uses: when anything loads it, it writes "<its folder>\planted-loaded.txt" naming the program.
#include <windows.h>

#include <cstdio>
#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring marker(path, n);
  marker.resize(marker.find_last_of(L'\\') + 1);
  marker += L"planted-loaded.txt";
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  char utf8[4 * MAX_PATH];
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, program, -1, utf8, sizeof utf8, nullptr, nullptr);
  if (FILE* f = _wfopen(marker.c_str(), L"ab")) {
    if (length > 0) fprintf(f, "%s\n", utf8);
    fclose(f);
  }
  return TRUE;
}
