// Stands in for the self-extracting blockchain archive: notes how it was started (the command
// line in UTF-8), takes a moment (the installer must wait for it; CORVANE_CHAIN_MS milliseconds
// when set, else 1.5 s), then leaves a block file where the real archive unpacks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

} // namespace

int main() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.find_last_of(L'\\'));
  if (FILE* f = _wfopen((dir + L"\\chain-ran.txt").c_str(), L"wb")) {
    fputs(Utf8(GetCommandLineW()).c_str(), f);
    fclose(f);
  }
  const char* ms = getenv("CORVANE_CHAIN_MS");
  Sleep(ms ? static_cast<DWORD>(atoi(ms)) : 1500);
  CreateDirectoryW((dir + L"\\Corvane").c_str(), nullptr);
  CreateDirectoryW((dir + L"\\Corvane\\blocks").c_str(), nullptr);
  FILE* block = _wfopen((dir + L"\\Corvane\\blocks\\blk00000.dat").c_str(), L"wb");
  if (!block) return 1;
  fputs("block\n", block);
  fclose(block);
  return 0;
}
