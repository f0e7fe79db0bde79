// Shared by the Linux Winsock files: the socket table, error codes and the system headers with
// the names that Winsock defines differently taken out of the way.
#pragma once

#include "platform/winapi_net.h"
#include "platform/winapi_posix.h"

// The Windows values of the names that the system headers below define differently.
namespace platform::detail {
constexpr int kWinSolSocket = SOL_SOCKET;
constexpr int kWinSoLinger = SO_LINGER;
constexpr int kWinSoReuseAddr = SO_REUSEADDR;
constexpr int kWinMsgPeek = MSG_PEEK;
constexpr int kWinSomaxconn = SOMAXCONN;
constexpr int kWinAfInet6 = AF_INET6;
} // namespace platform::detail
#undef AF_INET
#undef AF_INET6
#undef SOCK_STREAM
#undef IPPROTO_TCP
#undef SOL_SOCKET
#undef SO_LINGER
#undef SO_REUSEADDR
#undef MSG_PEEK
#undef SOMAXCONN
#undef INADDR_NONE
#undef INADDR_ANY
#undef INADDR_LOOPBACK

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

// glibc makes these macros when optimising; our own functions of the same names must not be
// rewritten by them.
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

namespace platform::detail {

struct Sock {
  uint64_t serial = 0;
  int fd = -1;
  int family = 2; // Windows' value: 2 or kWinAfInet6
  win::HWND window = nullptr;
  win::UINT msg = 0;
  long events = 0;
  bool async = false;
  bool connecting = false;
  bool connected = false;
  bool listening = false;
  bool readArmed = true;    // FD_READ / FD_ACCEPT may be posted
  bool writeWanted = false; // FD_WRITE is due once send space returns
  bool closeSent = false;
  // A broken connection keeps reporting its error, as Winsock does; the system reports it once.
  int brokenError = 0;
  std::unique_ptr<QSocketNotifier> readNotifier;
  std::unique_ptr<QSocketNotifier> writeNotifier;
};

// The socket behind a handle, or null.
Sock* FindSocket(win::SOCKET s);
// Maps an errno value to its Winsock error.
int MapErrno(int e);
// Records wsaError as the thread's last error and returns SOCKET_ERROR.
int Fail(int wsaError);
int FailErrno();
// A Winsock address of the socket's family as the system's; its length, 0 when namelen is too
// short for the family.
socklen_t ToSystemAddress(const Sock& sock, const win::sockaddr* name, int namelen,
                          ::sockaddr_storage& out);
// The system's address as Winsock's into name (of *namelen bytes); false when it does not fit.
bool FromSystemAddress(const ::sockaddr_storage& in, win::sockaddr* name, int* namelen);
// True between WSAStartup and the matching WSACleanup.
bool WinsockStarted();

// Notifications (winsock_notify_posix.cpp): posted as window messages, dropped if the socket is
// closed before delivery.
void Notify(Sock& sock, int event, int error);
void UpdateNotifiers(Sock& sock);

} // namespace platform::detail
