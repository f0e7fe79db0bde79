#include "platform/shell.h"

#include <cstring>

#include "platform/text.h"

namespace platform {

std::basic_string<win::OLECHAR> AnsiToOle(const std::string& text) {
  return Utf8ToWide(text);
}

} // namespace platform

namespace win {

namespace {

// Holds the system's link object and hands it UTF-16. Other interfaces asked of it are the
// system object's own.
class Utf8ShellLink final : public IShellLinkA {
public:
  explicit Utf8ShellLink(::IShellLinkW* link) : link_(link) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, ::IID_IShellLinkA)) {
      *ppv = static_cast<IShellLinkA*>(this);
      AddRef();
      return S_OK;
    }
    return link_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override {
    return link_->SetPath(platform::Utf8ToWide(pszFile ? pszFile : "").c_str());
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override {
    return link_->SetDescription(platform::Utf8ToWide(pszName ? pszName : "").c_str());
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override {
    return link_->SetShowCmd(iShowCmd);
  }

private:
  ~Utf8ShellLink() { link_->Release(); }
  ::IShellLinkW* link_;
  ULONG references_ = 1;
};

} // namespace

HRESULT CoCreateInstance(const CLSID& rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         const IID& riid, void** ppv) {
  if (!IsEqualIID(riid, ::IID_IShellLinkA))
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ::IShellLinkW* link = nullptr;
  const HRESULT hr = ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, ::IID_IShellLinkW,
                                        reinterpret_cast<void**>(&link));
  if (FAILED(hr)) return hr;
  *ppv = static_cast<IShellLinkA*>(new Utf8ShellLink(link));
  return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
  wchar_t wide[MAX_PATH];
  if (!::SHGetPathFromIDListW(pidl, wide)) return FALSE;
  // The wide call has limited the path to MAX_PATH units; its UTF-8 fits ShellPathBytes.
  const std::string path = platform::WideToUtf8(wide);
  if (path.size() >= static_cast<size_t>(platform::ShellPathBytes)) return FALSE;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return TRUE;
}

} // namespace win
