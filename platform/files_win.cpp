#include "platform/files.h"

#include <windows.h>

#include <aclapi.h>
#include <io.h>
#include <sddl.h>

#include <vector>

#include "platform/security_win.h"
#include "platform/text.h"

namespace platform {

int SeekFile(std::FILE* file, int64_t offset, int whence) {
  return _fseeki64(file, offset, whence);
}

int64_t TellFile(std::FILE* file) {
  return _ftelli64(file);
}

unsigned long LastFileError() {
  return GetLastError();
}

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool FlushFileData(std::FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text) {
  const std::wstring target = Utf8ToWide(path);
  const std::wstring temp = target + L".new";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = text.size() <= MAXDWORD &&
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  ok = FlushFileBuffers(file) && ok;
  ok = CloseHandle(file) && ok;
  // With write-through the move is on the disk when it returns.
  if (!ok || !MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

bool SyncFolderOf(const std::string&) {
  return true;
}

bool AcquireInstanceLock() {
  // The handle stays open until the process ends; the system releases the mutex then. Another
  // session's mutex is one this user may not open (ERROR_ACCESS_DENIED).
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\Corvane Setup");
  if (!mutex) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

namespace {

// The SID of the user this process runs as, in its string form.
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::wstring sid;
  LPWSTR text = nullptr;
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

} // namespace

std::wstring ProgramDirectorySddl() {
  const std::wstring user = CurrentUserSid();
  if (user.empty()) return {};
  // P: nothing inherited. Full control for SYSTEM, Administrators and the user; read & execute
  // (0x1200a9) for Users; each passed on to the files and folders made inside.
  return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")(A;OICI;0x1200a9;;;BU)";
}

bool CreateProgramDirectory(const std::string& path) {
  const std::wstring sddl = ProgramDirectorySddl();
  if (sddl.empty()) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryW(Utf8ToWide(path).c_str(), &attributes);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return made != 0;
}

namespace {

// Whether the SID is the user this process runs as.
bool IsCurrentUser(PSID sid) {
  const std::wstring user = CurrentUserSid();
  LPWSTR text = nullptr;
  if (user.empty() || !ConvertSidToStringSidW(sid, &text)) return false;
  const bool same = user == text;
  LocalFree(text);
  return same;
}

} // namespace

ProgramDirectoryState SecureProgramDirectory(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/'))
    wide.pop_back();
  // The directory itself, not what a junction or link names; held open without sharing its
  // deletion, so that it cannot be swapped for another between the check and the change.
  HANDLE dir = CreateFileW(wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (dir == INVALID_HANDLE_VALUE) return ProgramDirectoryState::Failed;
  ProgramDirectoryState state = ProgramDirectoryState::Failed;
  BY_HANDLE_FILE_INFORMATION info{};
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR current = nullptr;
  if (!GetFileInformationByHandle(dir, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    state = ProgramDirectoryState::Failed;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    state = ProgramDirectoryState::Link;
  } else if (GetSecurityInfo(dir, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                             nullptr, nullptr, &current) != ERROR_SUCCESS) {
    state = ProgramDirectoryState::Failed;
  } else if (!IsCurrentUser(owner) && !IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
             !IsWellKnownSid(owner, WinLocalSystemSid)) {
    state = ProgramDirectoryState::OtherOwner;
  } else {
    // The list of a new program directory, protected from C:\'s, and passed on to what the
    // directory holds (by name: only that call carries inherited entries down).
    const std::wstring sddl = ProgramDirectorySddl();
    PSECURITY_DESCRIPTOR wanted = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!sddl.empty() &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &wanted,
                                                             nullptr) &&
        GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted) && present &&
        SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS)
      state = ProgramDirectoryState::Secured;
    if (wanted) LocalFree(wanted);
  }
  if (current) LocalFree(current);
  CloseHandle(dir);
  return state;
}

} // namespace platform
