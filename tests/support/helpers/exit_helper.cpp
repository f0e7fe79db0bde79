// A Windows program for process and install tests: waits a moment, notes its argument count in
// "<itself>.ran" and exits with the code that a line "exit N" appended to its own file names
// (0 without one), so that a copy under any name, a downloaded one too, behaves as asked. With
// the argument "hold" it runs for ten minutes instead.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  // "hold": a running program whose file the tests try to replace.
  if (argc > 1 && std::string(argv[1]) == "hold") Sleep(600000);
  Sleep(200);
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, n);
  if (FILE* f = std::fopen((path + ".ran").c_str(), "wb")) {
    std::fprintf(f, "%d\n", argc - 1);
    std::fclose(f);
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  const std::string bytes = data.str();
  const size_t at = bytes.rfind("\nexit ");
  if (at == std::string::npos || at + 6 >= bytes.size()) return 0;
  const unsigned char digit = static_cast<unsigned char>(bytes[at + 6]);
  return std::isdigit(digit) ? digit - '0' : 0;
}
