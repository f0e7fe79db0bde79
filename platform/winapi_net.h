// Windows, messages, timers and Winsock 1.1.
#pragma once

#include "platform/winapi_base.h"

#if defined(_WIN32)
#include <windows.h>
#include <winsock.h>

namespace win {
using ::ATOM;
using ::HMENU;
using ::hostent;
using ::in_addr;
using ::LONG_PTR;
using ::LPCSTR;
using ::LPVOID;
using ::sockaddr;
using ::sockaddr_in;
using ::SOCKET;
using ::TIMERPROC;
using ::u_long;
using ::u_short;
using ::UINT_PTR;
using ::WNDCLASSA;
using ::WNDPROC;
using ::WSADATA;
using linger = ::linger;

using ::accept;
using ::bind;
using ::CallWindowProcA;
using ::closesocket;
using ::connect;
using ::CreateWindowExA;
using ::DefWindowProcA;
using ::DestroyWindow;
using ::GetClassInfoA;
using ::GetModuleHandleA;
using ::getsockname;
using ::GetWindowLongPtrA;
using ::htons;
using ::inet_addr;
using ::IsWindow;
using ::KillTimer;
using ::listen;
using ::MSG;
using ::ntohs;
using ::PeekMessageA;
using ::PostMessageA;
using ::recv;
using ::RegisterClassA;
using ::send;
using ::SendMessageA;
using ::setsockopt;
using ::SetTimer;
using ::SetWindowLongPtrA;
using ::shutdown;
using ::socket;
using ::WSAAsyncGetHostByName;
using ::WSAAsyncSelect;
using ::WSACancelAsyncRequest;
using ::WSACleanup;
using ::WSAGetLastError;
using ::WSASetLastError;
using ::WSAStartup;
} // namespace win

#else
#include <cstddef>
#include <cstdint>

namespace win {
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ATOM = WORD;
using LPCSTR = const char*;
using LPVOID = void*;
struct HMENU__;
using HMENU = HMENU__*;
using u_short = uint16_t;
using u_long = uint32_t;
using SOCKET = UINT_PTR;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HANDLE hIcon;
  HANDLE hCursor;
  HANDLE hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct POINT {
  LONG x;
  LONG y;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

// Same layout as the BSD structures, so the stand-in passes them through unchanged.
struct in_addr {
  u_long s_addr;
};
struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};
struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};
struct linger {
  u_short l_onoff;
  u_short l_linger;
};

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};

// Windows and messages.
ATOM RegisterClassA(const WNDCLASSA* wndClass);
BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wndClass);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Looks among the messages posted with PostMessageA (timer ticks are not queued here); a null
// window means any window, min = max = 0 any message.
BOOL PeekMessageA(MSG* msg, HWND window, UINT min, UINT max, UINT removeMsg);
// Calls the window procedure at once; 0 for a window that does not exist.
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND window);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LRESULT CallWindowProcA(WNDPROC proc, HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
HINSTANCE GetModuleHandleA(LPCSTR moduleName);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC func);
BOOL KillTimer(HWND window, UINT_PTR id);

// Winsock 1.1.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
SOCKET socket(int af, int type, int protocol);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, LONG events);
HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen);
int WSACancelAsyncRequest(HANDLE task);
u_long inet_addr(const char* cp);
u_short htons(u_short value);
u_short ntohs(u_short value);
int connect(SOCKET s, const sockaddr* name, int namelen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
} // namespace win

#define CALLBACK
#define WINAPI

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_ACTIVATEAPP 0x001C
#define WM_TIMER 0x0113
#define WM_USER 0x0400

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define HWND_MESSAGE ((win::HWND)(intptr_t)-3)

#define WS_POPUP 0x80000000L
#define WS_EX_TOOLWINDOW 0x00000080L
#define GWLP_USERDATA (-21)
#define GWLP_WNDPROC (-4)

#define LOWORD(l) ((win::WORD)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((win::WORD)((((uintptr_t)(l)) >> 16) & 0xffff))
#define MAKEWORD(a, b) ((win::WORD)(((win::BYTE)(a)) | ((win::WORD)((win::BYTE)(b))) << 8))
#define MAKELONG(a, b) ((win::LONG)(((win::WORD)(a)) | ((win::DWORD)((win::WORD)(b))) << 16))
#define WSAMAKESELECTREPLY(event, error) MAKELONG(event, error)
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)
#define WSAMAKEASYNCREPLY(buflen, error) MAKELONG(buflen, error)
#define WSAGETASYNCBUFLEN(lParam) LOWORD(lParam)
#define WSAGETASYNCERROR(lParam) HIWORD(lParam)

#define INVALID_SOCKET ((win::SOCKET)(~0))
#define SOCKET_ERROR (-1)
#define INADDR_NONE 0xffffffffu
#define INADDR_ANY 0x00000000u
#define INADDR_LOOPBACK 0x7f000001u
#define MAXGETHOSTSTRUCT 1024

#define AF_INET 2
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define SOL_SOCKET 0xffff
#define SO_LINGER 0x0080
#define SO_REUSEADDR 0x0004
#define MSG_PEEK 0x2
#define SOMAXCONN 5
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20

#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETOOMANYREFS 10059
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAENOTEMPTY 10066
#define WSAEPROCLIM 10067
#define WSAEUSERS 10068
#define WSAEDQUOT 10069
#define WSAESTALE 10070
#define WSAEREMOTE 10071
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

#endif

// IPv6 addresses, which Winsock 1.1's header does not have: the layout of the system's
// sockaddr_in6 and sockaddr_storage (Windows and BSD agree on it), with Windows' AF_INET6. The
// stand-in maps the family to the system's own.
#ifndef AF_INET6
#define AF_INET6 23
#endif

namespace win {
struct in6_addr {
  union {
    BYTE Byte[16];
    WORD Word[8];
  } u;
};
struct sockaddr_in6 {
  short sin6_family;
  u_short sin6_port;
  u_long sin6_flowinfo;
  in6_addr sin6_addr;
  u_long sin6_scope_id;
};
// Room for an address of either family.
struct alignas(8) sockaddr_storage {
  short ss_family;
  char ss_data[126];
};
static_assert(sizeof(sockaddr_in6) == 28 && sizeof(sockaddr_storage) == 128);
} // namespace win
