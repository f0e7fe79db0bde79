#include "platform/shell.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"

namespace platform {

std::basic_string<win::OLECHAR> AnsiToOle(const std::string& text) {
  std::basic_string<win::OLECHAR> out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t cp = s[i];
    size_t len = cp < 0x80             ? 1
                 : (cp & 0xE0) == 0xC0 ? 2
                 : (cp & 0xF0) == 0xE0 ? 3
                 : (cp & 0xF8) == 0xF0 ? 4
                                       : 0;
    bool valid = len > 0 && i + len <= n;
    if (valid && len > 1) {
      cp &= 0x7F >> len;
      for (size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
      }
      static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) valid = false;
    }
    if (!valid) {
      cp = s[i];
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

} // namespace platform

namespace win {

struct ITEMIDLIST {
  int csidl;
};

namespace {

std::string OleToUtf8(const OLECHAR* s) {
  std::string out;
  for (; *s; ++s) {
    uint32_t cp = *s;
    if (cp >= 0xD800 && cp <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[1] - 0xDC00);
      ++s;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

thread_local int comInitCount = 0;

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

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "user";
}

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
  return "C:\\users\\" + UserName() + "\\" + FolderTail(csidl);
}

bool MakeDirs(const std::string& native) {
  struct stat st {};
  if (stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = native.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(native.substr(0, slash))) return false;
  return mkdir(native.c_str(), 0777) == 0 || errno == EEXIST;
}

// The target as Windows names it: forward slashes become backslashes, and a native absolute
// path is reached through Wine's Z: drive.
std::string WindowsForm(const std::string& path) {
  std::string out = !path.empty() && path[0] == '/' ? "Z:" + path : path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

void Put16(std::string& b, uint32_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Put64(std::string& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}

uint64_t FileTime(const timespec& t) {
  if (t.tv_sec < -11644473600LL) return 0;
  return static_cast<uint64_t>(t.tv_sec + 11644473600LL) * 10000000ULL +
         static_cast<uint64_t>(t.tv_nsec) / 100;
}

void PutCountedString(std::string& b, const std::string& ansi) {
  std::basic_string<OLECHAR> u = platform::AnsiToOle(ansi);
  Put16(b, static_cast<uint32_t>(u.size()));
  for (OLECHAR c : u)
    Put16(b, c);
}

class ShellLink final : public IShellLinkA, public IPersistFile {
public:
  HRESULT QueryInterface(const IID& riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellLinkA)
      *ppv = static_cast<IShellLinkA*>(this);
    else if (riid == IID_IPersistFile)
      *ppv = static_cast<IPersistFile*>(this);
    else
      *ppv = nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetPath(const char* p) override { return Set(path_, p); }
  HRESULT SetDescription(const char* p) override { return Set(description_, p); }
  HRESULT SetArguments(const char* p) override { return Set(arguments_, p); }
  HRESULT SetWorkingDirectory(const char* p) override { return Set(workingDir_, p); }
  HRESULT SetShowCmd(int cmd) override {
    showCmd_ = cmd;
    return S_OK;
  }

  HRESULT Save(const OLECHAR* name, BOOL) override {
    if (!name) return E_INVALIDARG;
    std::string data = Serialize();
    std::FILE* f = std::fopen(platform::NativePath(OleToUtf8(name)).c_str(), "wb");
    if (!f) return E_FAIL;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? S_OK : E_FAIL;
  }

private:
  static HRESULT Set(std::string& field, const char* value) {
    if (!value) return E_INVALIDARG;
    field = value;
    return S_OK;
  }

  std::string Serialize() const {
    enum : uint32_t {
      HasLinkInfo = 0x02,
      HasName = 0x04,
      HasWorkingDir = 0x10,
      HasArguments = 0x20,
      IsUnicode = 0x80,
    };
    uint32_t flags = IsUnicode;
    if (!path_.empty()) flags |= HasLinkInfo;
    if (!description_.empty()) flags |= HasName;
    if (!workingDir_.empty()) flags |= HasWorkingDir;
    if (!arguments_.empty()) flags |= HasArguments;

    uint32_t attributes = 0, size = 0;
    uint64_t created = 0, accessed = 0, written = 0;
    struct stat st {};
    if (!path_.empty() && stat(platform::NativePath(path_).c_str(), &st) == 0) {
      attributes = S_ISDIR(st.st_mode) ? 0x10 : 0x20;
      size = static_cast<uint32_t>(st.st_size);
      created = FileTime(st.st_ctim);
      accessed = FileTime(st.st_atim);
      written = FileTime(st.st_mtim);
    }

    std::string b;
    Put32(b, 0x4C);
    b.append("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    Put32(b, flags);
    Put32(b, attributes);
    Put64(b, created);
    Put64(b, accessed);
    Put64(b, written);
    Put32(b, size);
    Put32(b, 0); // icon index
    Put32(b, static_cast<uint32_t>(showCmd_));
    Put16(b, 0); // hot key
    Put16(b, 0);
    Put32(b, 0);
    Put32(b, 0);

    if (flags & HasLinkInfo) {
      const std::string base = WindowsForm(path_);
      const uint32_t headerSize = 0x1C;
      const uint32_t volumeSize = 0x10 + 1; // an empty label
      const uint32_t baseOffset = headerSize + volumeSize;
      const uint32_t suffixOffset = baseOffset + static_cast<uint32_t>(base.size()) + 1;
      const uint32_t total = suffixOffset + 1;
      Put32(b, total);
      Put32(b, headerSize);
      Put32(b, 0x1); // VolumeIDAndLocalBasePath
      Put32(b, headerSize);
      Put32(b, baseOffset);
      Put32(b, 0);
      Put32(b, suffixOffset);
      Put32(b, volumeSize);
      Put32(b, 3); // fixed drive
      Put32(b, 0);
      Put32(b, 0x10);
      b += '\0';
      b += base;
      b += '\0';
      b += '\0';
    }
    if (flags & HasName) PutCountedString(b, description_);
    if (flags & HasWorkingDir) PutCountedString(b, WindowsForm(workingDir_));
    if (flags & HasArguments) PutCountedString(b, arguments_);
    Put32(b, 0); // terminal block
    return b;
  }

  std::atomic<ULONG> refs_{1};
  std::string path_, description_, arguments_, workingDir_;
  int showCmd_ = SW_SHOWNORMAL;
};

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
  if (path.size() >= MAX_PATH) return FALSE;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return TRUE;
}

HRESULT CoInitialize(void*) {
  return comInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (comInitCount > 0) --comInitCount;
}

HRESULT CoCreateInstance(const CLSID& rclsid, IUnknown* pUnkOuter, DWORD, const IID& riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (comInitCount == 0) return CO_E_NOTINITIALIZED;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  if (!(rclsid == CLSID_ShellLink)) return REGDB_E_CLASSNOTREG;
  auto* link = new ShellLink;
  HRESULT hr = link->QueryInterface(riid, ppv);
  link->Release();
  return hr;
}

} // namespace win
