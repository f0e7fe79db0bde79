// COM as far as the installer uses it: initialisation and the link object's class.
#include "platform/shell.h"

namespace win {
namespace {

thread_local int comInitCount = 0;

} // namespace

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
  IShellLinkA* link = platform::detail::NewShellLink();
  HRESULT hr = link->QueryInterface(riid, ppv);
  link->Release();
  return hr;
}

} // namespace win
