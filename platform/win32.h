// The Windows API subset the components use, in namespace win.
//
// On Windows this re-exports the real functions and types with using-declarations; elsewhere it
// declares the same names, implemented by the *_posix.cpp files on Qt's event loop. Constants are
// macros, as in the real headers, so code writes them unqualified (MB_OK, WM_TIMER, FD_READ);
// functions and types are written with the namespace (win::socket, win::HWND).
#pragma once

#include "platform/winapi_base.h"
#include "platform/winapi_net.h"
