// Stands in for the self-extracting blockchain archive: notes how it was started (the command
// line in UTF-8), takes a moment (the installer must wait for it; CORVANE_CHAIN_MS milliseconds
// when set, else 1.5 s), then leaves a block file where the real archive unpacks. With
// CORVANE_CHAIN_QUIET_ARGS set it first asks where to unpack, as the real one does, in a box that
// waits for OK ("chain-asked.txt" notes that it asked), unless its arguments are those.
#include <windows.h>

#include <algorithm>
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

// The command line after the program's own name, without the blanks around it.
std::wstring Arguments() {
  std::wstring line = GetCommandLineW();
  size_t at = 0;
  if (!line.empty() && line[0] == L'"')
    at = line.find(L'"', 1) == std::wstring::npos ? line.size() : line.find(L'"', 1) + 1;
  else
    at = std::min(line.find(L' '), line.size());
  line.erase(0, at);
  line.erase(0, line.find_first_not_of(L' '));
  line.erase(line.find_last_not_of(L' ') + 1);
  return line;
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
  if (const wchar_t* quiet = _wgetenv(L"CORVANE_CHAIN_QUIET_ARGS"); quiet && Arguments() != quiet) {
    if (FILE* f = _wfopen((dir + L"\\chain-asked.txt").c_str(), L"wb")) fclose(f);
    MessageBoxW(nullptr, L"Extract to the default location?", L"Blockchain archive", MB_OK);
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
