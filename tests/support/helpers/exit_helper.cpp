// A Windows program for process tests: waits a moment, notes its argument count in "<itself>.ran"
// and exits with the number in its file name ("exit3.exe" exits with 3).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char**) {
  Sleep(200);
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, n);
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  if (FILE* f = std::fopen((path + ".ran").c_str(), "wb")) {
    std::fprintf(f, "%d\n", argc - 1);
    std::fclose(f);
  }
  return std::atoi(name.c_str() + name.find_first_of("0123456789"));
}
