// Shared by the shell tests: a link made the way the shortcut maker makes it.
#pragma once

#include "platform/shell.h"

#include <string>

namespace shelltest {

// A link made the way the shortcut maker makes it; returns Save's result.
inline win::HRESULT SaveLink(const std::string& name, const std::string& target,
                             const char* description = "cvn QT Wallet") {
  win::HRESULT hr = win::CoInitialize(nullptr);
  if (FAILED(hr)) return hr;
  win::IShellLinkA* link = nullptr;
  hr = win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                             win::IID_IShellLinkA, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(hr)) {
    link->SetPath(target.c_str());
    link->SetDescription(description);
    link->SetShowCmd(SW_SHOW);
    win::IPersistFile* file = nullptr;
    hr = link->QueryInterface(win::IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
      hr = file->Save(platform::AnsiToOle(name).c_str(), TRUE);
      file->Release();
    }
    link->Release();
  }
  win::CoUninitialize();
  return hr;
}

} // namespace shelltest
