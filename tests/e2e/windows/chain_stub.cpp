// Stands in for the self-extracting blockchain archive: notes how it was started, takes a moment
// (the installer must wait for it), then leaves a block file where the real archive unpacks.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir(self, n);
  dir.resize(dir.find_last_of('\\'));
  if (FILE* f = fopen((dir + "\\chain-ran.txt").c_str(), "wb")) {
    fputs(GetCommandLineA(), f);
    fclose(f);
  }
  Sleep(1500);
  CreateDirectoryA((dir + "\\Corvane").c_str(), nullptr);
  CreateDirectoryA((dir + "\\Corvane\\blocks").c_str(), nullptr);
  FILE* block = fopen((dir + "\\Corvane\\blocks\\blk00000.dat").c_str(), "wb");
  if (!block) return 1;
  fputs("block\n", block);
  fclose(block);
  return 0;
}
