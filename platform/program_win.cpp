#include <windows.h>

#include <restartmanager.h>
#include <shellapi.h>

#include <algorithm>

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

namespace {

// rstrtmgr.dll is no known DLL: loaded by name it would be looked for in the program's folder
// first, where a download may have put one beside the installer. From System32 alone.
template <class Fn> Fn RestartManager(const char* name) {
  static const HMODULE module =
      LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// A Restart Manager session with the file registered in it; Handle() is invalid when the system
// has none.
class TRmSession {
public:
  explicit TRmSession(const std::wstring& file) {
    const auto start = RestartManager<decltype(&RmStartSession)>("RmStartSession");
    const auto registerFiles =
        RestartManager<decltype(&RmRegisterResources)>("RmRegisterResources");
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (!start || !registerFiles || start(&handle_, 0, key) != ERROR_SUCCESS) return;
    open_ = true;
    LPCWSTR files[] = {file.c_str()};
    if (registerFiles(handle_, 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) End();
  }
  ~TRmSession() { End(); }
  TRmSession(const TRmSession&) = delete;
  TRmSession& operator=(const TRmSession&) = delete;

  bool Open() const { return open_; }
  DWORD Handle() const { return handle_; }

  std::vector<RM_PROCESS_INFO> Holders() const {
    std::vector<RM_PROCESS_INFO> found;
    const auto getList = RestartManager<decltype(&RmGetList)>("RmGetList");
    if (!open_ || !getList) return found;
    for (int tries = 0; tries < 3; ++tries) {
      UINT needed = 0, count = static_cast<UINT>(found.size());
      DWORD reasons = 0;
      const DWORD status = getList(handle_, &needed, &count, found.data(), &reasons);
      if (status == ERROR_SUCCESS) {
        found.resize(count);
        return found;
      }
      if (status != ERROR_MORE_DATA) break;
      found.resize(needed);
    }
    found.clear();
    return found;
  }

private:
  void End() {
    if (!open_) return;
    if (const auto end = RestartManager<decltype(&RmEndSession)>("RmEndSession")) end(handle_);
    open_ = false;
  }

  DWORD handle_ = 0;
  bool open_ = false;
};

} // namespace

std::vector<std::string> ProgramsUsing(const std::string& path) {
  std::vector<std::string> names;
  TRmSession session(Utf8ToWide(path));
  for (const RM_PROCESS_INFO& holder : session.Holders()) {
    const std::string name = WideToUtf8(holder.strAppName);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
  return names;
}

bool CloseProgramsUsing(const std::string& path) {
  {
    TRmSession session(Utf8ToWide(path));
    const auto shutdown = RestartManager<decltype(&RmShutdown)>("RmShutdown");
    // A graceful close: a program that asks to save first is not forced.
    if (!session.Open() || !shutdown || session.Holders().empty() ||
        shutdown(session.Handle(), 0, nullptr) != ERROR_SUCCESS)
      return !FileInUse(path);
  }
  for (int i = 0; i < 100 && FileInUse(path); ++i)
    Sleep(100);
  return !FileInUse(path);
}

bool CopyProgramFile(const std::string& dest) {
  const std::wstring self = OwnFile(), target = Utf8ToWide(dest), temp = target + L".part";
  if (self.empty()) return false;
  if (SameFile(self, target)) return true;
  if (!CopyFileW(self.c_str(), temp.c_str(), FALSE)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  // The copy would keep the download's Mark of the Web, and the uninstaller in Apps & features
  // would then warn like a fresh download.
  DeleteFileW((temp + L":Zone.Identifier").c_str());
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
