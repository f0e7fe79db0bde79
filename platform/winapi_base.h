// Base types, environment, files and directories, message boxes, Sleep.
#pragma once

#if defined(_WIN32)
#include <windows.h>

namespace win {
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::HANDLE;
using ::HINSTANCE;
using ::HWND;
using ::LONG;
using ::LPARAM;
using ::LRESULT;
using ::UINT;
using ::WORD;
using ::WPARAM;
}  // namespace win

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
struct HWND__;
using HWND = HWND__*;
}  // namespace win

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#endif
