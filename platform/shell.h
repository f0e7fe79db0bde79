// Shell folders and shell links, the COM way, in namespace win.
//
// On Windows these are the real shell and COM functions and interfaces. Elsewhere the same names
// are a stand-in: the special folders are the Wine-style prefix's user profile, and the link
// object saves files in the Shell Link binary format with a writer of our own.
#pragma once

#include <string>

#include "platform/winapi_base.h"

#if defined(_WIN32)
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace win {
using ::CoInitialize;
using ::CoUninitialize;
using ::HRESULT;
using ::IID;
using ::IMalloc;
using ::IPersistFile;
using ::IUnknown;
using ::LPCITEMIDLIST;
using ::LPITEMIDLIST;
using ::OLECHAR;
using ::SHGetMalloc;
using ::SHGetSpecialFolderLocation;
inline const CLSID& CLSID_ShellLink = ::CLSID_ShellLink;
inline const IID& IID_IShellLinkA = ::IID_IShellLinkA;
inline const IID& IID_IPersistFile = ::IID_IPersistFile;

// The shell link with the program's 8-bit text, UTF-8: the system's IShellLinkW behind it
// (shell_win.cpp). The system's own IShellLinkA would take the ANSI code page.
struct IShellLinkA : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
};

// CoCreateInstance, except that IID_IShellLinkA gives the IShellLinkA above.
HRESULT CoCreateInstance(const CLSID& rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         const IID& riid, void** ppv);
// The folder's path in UTF-8 into a buffer of platform::ShellPathBytes bytes; FALSE also when it
// does not fit the wide API's MAX_PATH units.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
} // namespace win

#else
#include "platform/shell_posix.h"
#endif

namespace platform {

// The bytes a shell folder's path may take in UTF-8: MAX_PATH UTF-16 units (a path of Cyrillic or
// Chinese letters takes two or three bytes a unit).
inline constexpr int ShellPathBytes = 3 * MAX_PATH;

// UTF-16 of the program's 8-bit text, as the persist-file save takes names. On Windows the text
// is UTF-8 (see text.h). The stand-in also reads UTF-8; a byte that is no part of valid UTF-8 is
// taken as Latin-1 there.
std::basic_string<win::OLECHAR> AnsiToOle(const std::string& text);

} // namespace platform
