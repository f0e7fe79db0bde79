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
using ::CoCreateInstance;
using ::CoInitialize;
using ::CoUninitialize;
using ::HRESULT;
using ::IID;
using ::IMalloc;
using ::IPersistFile;
using ::IShellLinkA;
using ::IUnknown;
using ::LPCITEMIDLIST;
using ::LPITEMIDLIST;
using ::OLECHAR;
using ::SHGetMalloc;
using ::SHGetPathFromIDListA;
using ::SHGetSpecialFolderLocation;
inline const CLSID& CLSID_ShellLink = ::CLSID_ShellLink;
inline const IID& IID_IShellLinkA = ::IID_IShellLinkA;
inline const IID& IID_IPersistFile = ::IID_IPersistFile;
} // namespace win

#else
#include "platform/shell_posix.h"
#endif

namespace platform {

// UTF-16 of 8-bit text in the system's ANSI code page, as the persist-file save takes names.
// The stand-in's code page is UTF-8; a byte that is no part of valid UTF-8 is taken as Latin-1.
std::basic_string<win::OLECHAR> AnsiToOle(const std::string& text);

} // namespace platform
