// The link object: saves files in the Shell Link binary format.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/paths.h"
#include "platform/shell.h"

namespace win {
namespace {

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
    std::FILE* f =
        std::fopen(platform::NativePath(platform::detail::OleToUtf8(name)).c_str(), "wb");
    if (!f) {
      // As Windows reports them: HRESULT_FROM_WIN32 of the file error.
      if (errno == EACCES || errno == EPERM || errno == EROFS)
        return static_cast<HRESULT>(0x80070005);
      if (errno == ENOENT || errno == ENOTDIR) return static_cast<HRESULT>(0x80070003);
      return E_FAIL;
    }
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
} // namespace win

namespace platform::detail {

win::IShellLinkA* NewShellLink() {
  return new win::ShellLink;
}

} // namespace platform::detail
