#include <windows.h>

#include <shellapi.h>

#include "platform/program.h"
#include "platform/text.h"

namespace platform {

namespace {

std::wstring OwnFile() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

// The same file, also under another name or spelling.
bool SameFile(const std::wstring& a, const std::wstring& b) {
  auto identify = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return identify(a, x) && identify(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

} // namespace

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return args;
  for (int i = 1; i < count; ++i)
    args.push_back(WideToUtf8(words[i]));
  LocalFree(words);
  return args;
}

std::string ProgramFile() {
  return WideToUtf8(OwnFile().c_str());
}

bool WriteStandardStream(const std::string& text, bool toError) {
  HANDLE stream = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (!stream || stream == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  return WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

bool FileInUse(const std::string& path) {
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool CopyProgramFile(const std::string& dest) {
  const std::wstring self = OwnFile(), target = Utf8ToWide(dest), temp = target + L".part";
  if (self.empty()) return false;
  if (SameFile(self, target)) return true;
  if (!CopyFileW(self.c_str(), temp.c_str(), FALSE)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(temp.c_str());
  return false;
}

bool RemoveProgramFile(const std::string& path) {
  const std::wstring file = Utf8ToWide(path);
  if (DeleteFileW(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
  // A running program's file cannot be deleted, but it can be moved within its drive.
  wchar_t folder[MAX_PATH + 1], parked[MAX_PATH + 1];
  if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"cvn", 0, parked))
    return false;
  if (!MoveFileExW(file.c_str(), parked, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(parked);
    return false;
  }
  // Allowed to administrators only; for anyone else the parked file waits for a disk clean-up.
  MoveFileExW(parked, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return true;
}

} // namespace platform
