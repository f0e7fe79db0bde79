// Base types, environment, files and directories, message boxes, Sleep.
#pragma once

#if defined(_WIN32)
#include <windows.h>

// Not in every SDK's headers.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

namespace win {
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::HANDLE;
using ::HINSTANCE;
using ::HWND;
using ::LONG;
using ::LPARAM;
using ::LPCSTR;
using ::LPSECURITY_ATTRIBUTES;
using ::LPSTR;
using ::LRESULT;
using ::SECURITY_ATTRIBUTES;
using ::UINT;
using ::WORD;
using ::WPARAM;

using ::GetLastError;
using ::SetLastError;
using ::Sleep;

// The program's 8-bit text is UTF-8, which no code page of the ANSI API spells on every system:
// these take and give UTF-8 and call the wide API (base_win.cpp), so that any user's profile
// path works. Lengths are in bytes of UTF-8, as the callers count them.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// Not the bare API call either: tests can divert the box (platform/msgbox.h) so nothing blocks.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
} // namespace win

#else
#include <cstdint>

namespace win {
using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HANDLE = void*;
using HINSTANCE = void*;
using LPCSTR = const char*;
using LPSTR = char*;
struct HWND__;
using HWND = HWND__*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The calling thread's last error code.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// The variable's name is matched without regard to case. Returns the length copied (without the
// terminator), or the size needed (with it) when nSize is too small, or 0 when it is not set.
// APPDATA, when the environment lacks it, is what Windows would set:
// C:\users\<user>\AppData\Roaming.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
DWORD GetFileAttributesA(LPCSTR lpFileName);
// One level: the parent must exist.
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// Modal to the application; returns IDOK however the box is closed (MB_YESNO: IDYES or IDNO).
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
void Sleep(DWORD dwMilliseconds);
} // namespace win

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAX_PATH 260

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_ELEVATION_REQUIRED 740L

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((win::DWORD)-1)

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_TYPEMASK 0x0000000FL

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#endif
