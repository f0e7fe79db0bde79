// Special folders: the Wine-style prefix's user profile, with the shell's allocator for their ids.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/winapi_posix.h"

namespace win {

struct ITEMIDLIST {
  int csidl;
};

namespace {

class ShellMalloc final : public IMalloc {
public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  // The shell's allocator lives as long as the process.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  void Free(void* pv) override { std::free(pv); }
};

ShellMalloc shellMalloc;

// The profile folders as Wine lays them out, relative to C:.
const char* FolderTail(int csidl) {
  switch (csidl) {
  case CSIDL_DESKTOPDIRECTORY:
    return "Desktop";
  case CSIDL_PROGRAMS:
    return "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  default:
    return nullptr;
  }
}

std::string FolderPath(int csidl) {
  return "C:\\users\\" + platform::detail::UserName() + "\\" + FolderTail(csidl);
}

bool MakeDirs(const std::string& native) {
  struct stat st {};
  if (stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = native.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(native.substr(0, slash))) return false;
  return mkdir(native.c_str(), 0777) == 0 || errno == EEXIST;
}

} // namespace

HRESULT SHGetMalloc(IMalloc** ppMalloc) {
  if (!ppMalloc) return E_INVALIDARG;
  *ppMalloc = &shellMalloc;
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
  if (!ppidl) return E_INVALIDARG;
  *ppidl = nullptr;
  if (!FolderTail(csidl)) return E_INVALIDARG;
  // A Wine prefix always has its profile folders; a fresh one gets them here.
  if (!MakeDirs(platform::NativePath(FolderPath(csidl)))) return E_FAIL;
  auto* pidl = static_cast<ITEMIDLIST*>(std::malloc(sizeof(ITEMIDLIST)));
  if (!pidl) return E_FAIL;
  pidl->csidl = csidl;
  *ppidl = pidl;
  return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, char* pszPath) {
  if (!pidl || !pszPath || !FolderTail(pidl->csidl)) return FALSE;
  std::string path = FolderPath(pidl->csidl);
  if (path.size() >= static_cast<size_t>(platform::ShellPathBytes) ||
      platform::Utf8ToWide(path).size() >= MAX_PATH)
    return FALSE;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return TRUE;
}

} // namespace win
