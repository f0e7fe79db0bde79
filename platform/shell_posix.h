// The Linux stand-in for the shell and COM names of shell.h: the special folders are the Wine-style
// prefix's user profile, and the link object saves files in the Shell Link binary format with a
// writer of our own.
#pragma once

#include <string>

#include "platform/winapi_base.h"

#include <cstdint>

namespace win {

using HRESULT = int32_t;
using ULONG = uint32_t;
using OLECHAR = char16_t;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  bool operator==(const GUID&) const = default;
};
using CLSID = GUID;
using IID = GUID;

// {00021401-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_ShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000214EE-0000-0000-C000-000000000046}
inline constexpr IID IID_IShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0000010B-0000-0000-C000-000000000046}
inline constexpr IID IID_IPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(const IID& riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

protected:
  ~IUnknown() = default;
};

struct IMalloc : IUnknown {
  virtual void Free(void* pv) = 0;

protected:
  ~IMalloc() = default;
};

struct IShellLinkA : IUnknown {
  virtual HRESULT SetPath(const char* pszFile) = 0;
  virtual HRESULT SetDescription(const char* pszName) = 0;
  virtual HRESULT SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT SetArguments(const char* pszArgs) = 0;
  virtual HRESULT SetWorkingDirectory(const char* pszDir) = 0;

protected:
  ~IShellLinkA() = default;
};

struct IPersistFile : IUnknown {
  virtual HRESULT Save(const OLECHAR* pszFileName, BOOL fRemember) = 0;

protected:
  ~IPersistFile() = default;
};

// An item-id list of the stand-in only names a special folder; its layout is private.
struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

HRESULT SHGetMalloc(IMalloc** ppMalloc);
HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST* ppidl);
// Writes the folder's path, a Windows path such as "C:\users\<user>\Desktop", in UTF-8 into a
// buffer of platform::ShellPathBytes bytes. Zero on failure, and when the path is MAX_PATH UTF-16
// units or longer, as on Windows.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, char* pszPath);
HRESULT CoInitialize(void* pvReserved);
void CoUninitialize();
HRESULT CoCreateInstance(const CLSID& rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         const IID& riid, void** ppv);

} // namespace win

#define S_OK ((win::HRESULT)0)
#define S_FALSE ((win::HRESULT)1)
#define E_NOINTERFACE ((win::HRESULT)0x80004002)
#define E_POINTER ((win::HRESULT)0x80004003)
#define E_FAIL ((win::HRESULT)0x80004005)
#define E_INVALIDARG ((win::HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((win::HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((win::HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((win::HRESULT)0x800401F0)
#define SUCCEEDED(hr) (((win::HRESULT)(hr)) >= 0)
#define FAILED(hr) (((win::HRESULT)(hr)) < 0)
#define CLSCTX_INPROC_SERVER 0x1
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_DESKTOPDIRECTORY 0x0010
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef SW_SHOWNORMAL
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#endif

namespace platform::detail {

// UTF-8 of a null-terminated UTF-16 string; unpaired surrogates are written as they are.
std::string OleToUtf8(const win::OLECHAR* s);
// A new link object with one reference, as the class factory hands it out.
win::IShellLinkA* NewShellLink();

} // namespace platform::detail
