// Winsock 1.1 on BSD sockets: startup, errors and the socket calls.
#include "platform/winsock_table_posix.h"

#include <cerrno>
#include <cstring>
#include <map>

namespace platform::detail {
namespace {

thread_local int lastError = 0;
int startups = 0;

std::map<win::SOCKET, std::unique_ptr<Sock>>& Sockets() {
  static auto* sockets = new std::map<win::SOCKET, std::unique_ptr<Sock>>;
  return *sockets;
}
uint64_t nextSerial = 1;

Sock* Register(int fd) {
  auto sock = std::make_unique<Sock>();
  sock->serial = nextSerial++;
  sock->fd = fd;
  Sock* raw = sock.get();
  Sockets()[static_cast<win::SOCKET>(fd)] = std::move(sock);
  return raw;
}

} // namespace

int MapErrno(int e) {
  switch (e) {
  case 0:
    return 0;
  case EINTR:
    return WSAEINTR;
  case EBADF:
    return WSAENOTSOCK;
  case EACCES:
  case EPERM:
    return WSAEACCES;
  case EFAULT:
    return WSAEFAULT;
  case EINVAL:
    return WSAEINVAL;
  case EMFILE:
  case ENFILE:
    return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
  case EAGAIN:
#endif
  case EWOULDBLOCK:
  case EINPROGRESS:
    return WSAEWOULDBLOCK;
  case EALREADY:
    return WSAEALREADY;
  case ENOTSOCK:
    return WSAENOTSOCK;
  case EDESTADDRREQ:
    return WSAEDESTADDRREQ;
  case EMSGSIZE:
    return WSAEMSGSIZE;
  case EPROTOTYPE:
    return WSAEPROTOTYPE;
  case ENOPROTOOPT:
    return WSAENOPROTOOPT;
  case EPROTONOSUPPORT:
    return WSAEPROTONOSUPPORT;
  case ESOCKTNOSUPPORT:
    return WSAESOCKTNOSUPPORT;
  case EOPNOTSUPP:
    return WSAEOPNOTSUPP;
  case EPFNOSUPPORT:
    return WSAEPFNOSUPPORT;
  case EAFNOSUPPORT:
    return WSAEAFNOSUPPORT;
  case EADDRINUSE:
    return WSAEADDRINUSE;
  case EADDRNOTAVAIL:
    return WSAEADDRNOTAVAIL;
  case ENETDOWN:
    return WSAENETDOWN;
  case ENETUNREACH:
    return WSAENETUNREACH;
  case ENETRESET:
    return WSAENETRESET;
  case ECONNABORTED:
    return WSAECONNABORTED;
  case ECONNRESET:
  case EPIPE:
    return WSAECONNRESET;
  case ENOBUFS:
  case ENOMEM:
    return WSAENOBUFS;
  case EISCONN:
    return WSAEISCONN;
  case ENOTCONN:
    return WSAENOTCONN;
  case ESHUTDOWN:
    return WSAESHUTDOWN;
  case ETIMEDOUT:
    return WSAETIMEDOUT;
  case ECONNREFUSED:
    return WSAECONNREFUSED;
  case ELOOP:
    return WSAELOOP;
  case ENAMETOOLONG:
    return WSAENAMETOOLONG;
  case EHOSTDOWN:
    return WSAEHOSTDOWN;
  case EHOSTUNREACH:
    return WSAEHOSTUNREACH;
  default:
    return WSAEINVAL;
  }
}

int Fail(int wsaError) {
  lastError = wsaError;
  return SOCKET_ERROR;
}
int FailErrno() {
  return Fail(MapErrno(errno));
}

Sock* FindSocket(win::SOCKET s) {
  auto it = Sockets().find(s);
  return it == Sockets().end() ? nullptr : it->second.get();
}

bool WinsockStarted() {
  return startups > 0;
}

} // namespace platform::detail

namespace win {

using namespace platform::detail;

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if (!data) return WSAEFAULT;
  if ((versionRequested & 0xff) < 1) return WSAVERNOTSUPPORTED;
  platform::detail::EnsureDispatcher();
  ++startups;
  std::memset(data, 0, sizeof *data);
  data->wVersion = versionRequested > 0x0202 ? 0x0202 : versionRequested;
  data->wHighVersion = 0x0202;
  std::strcpy(data->szDescription, "WinSock 2.0");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 32767;
  data->iMaxUdpDg = 65467;
  return 0;
}

int WSACleanup() {
  if (startups == 0) return Fail(WSANOTINITIALISED);
  --startups;
  return 0;
}

int WSAGetLastError() {
  return lastError;
}
void WSASetLastError(int error) {
  lastError = error;
}

SOCKET socket(int af, int type, int protocol) {
  if (startups == 0) return Fail(WSANOTINITIALISED), INVALID_SOCKET;
  if (af != 2) return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  if (type != 1) return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
  if (protocol != 0 && protocol != 6) return Fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailErrno(), INVALID_SOCKET;
  Register(fd);
  return static_cast<SOCKET>(fd);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!optval) return Fail(WSAEFAULT);
  if (level != kWinSolSocket) return Fail(WSAENOPROTOOPT);
  if (optname == kWinSoLinger) {
    if (optlen < static_cast<int>(sizeof(win::linger))) return Fail(WSAEFAULT);
    win::linger wl;
    std::memcpy(&wl, optval, sizeof wl);
    ::linger l{wl.l_onoff ? 1 : 0, wl.l_linger};
    if (::setsockopt(sock->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return FailErrno();
    return 0;
  }
  if (optname == kWinSoReuseAddr) {
    if (optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
    int on;
    std::memcpy(&on, optval, sizeof on);
    on = on ? 1 : 0;
    if (::setsockopt(sock->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return FailErrno();
    return 0;
  }
  return Fail(WSAENOPROTOOPT);
}

u_long inet_addr(const char* cp) {
  if (!cp) return 0xffffffffu;
  ::in_addr a;
  // inet_aton accepts the same forms as Winsock (a, a.b, a.b.c, a.b.c.d; octal and hex parts).
  if (::inet_aton(cp, &a) == 0) return 0xffffffffu;
  return a.s_addr;
}

u_short htons(u_short value) {
  return ::htons(value);
}
u_short ntohs(u_short value) {
  return ::ntohs(value);
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  if (sock->connected) return Fail(WSAEISCONN);
  if (sock->connecting) return Fail(WSAEALREADY);
  ::sockaddr_in addr{};
  std::memcpy(&addr, name, sizeof addr);
  addr.sin_family = AF_INET;
  if (addr.sin_addr.s_addr == 0) return Fail(WSAEADDRNOTAVAIL);
  int rc = ::connect(sock->fd, reinterpret_cast<::sockaddr*>(&addr), sizeof addr);
  if (!sock->async) {
    if (rc != 0) return FailErrno();
    sock->connected = true;
    return 0;
  }
  // A non-blocking connect always reports WSAEWOULDBLOCK; the outcome comes as FD_CONNECT.
  if (rc == 0) {
    sock->connected = true;
    Notify(*sock, FD_CONNECT, 0);
    Notify(*sock, FD_WRITE, 0);
  } else if (errno == EINPROGRESS) {
    sock->connecting = true;
  } else if (errno == ECONNREFUSED || errno == ENETUNREACH || errno == EHOSTUNREACH ||
             errno == ETIMEDOUT) {
    Notify(*sock, FD_CONNECT, MapErrno(errno));
  } else {
    return FailErrno();
  }
  UpdateNotifiers(*sock);
  return Fail(WSAEWOULDBLOCK);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  ::sockaddr_in addr{};
  std::memcpy(&addr, name, sizeof addr);
  addr.sin_family = AF_INET;
  if (::bind(sock->fd, reinterpret_cast<::sockaddr*>(&addr), sizeof addr) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET s, int backlog) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (::listen(sock->fd, backlog == kWinSomaxconn ? SOMAXCONN : backlog) != 0) return FailErrno();
  sock->listening = true;
  sock->readArmed = true;
  UpdateNotifiers(*sock);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK), INVALID_SOCKET;
  if (!sock->listening) return Fail(WSAEINVAL), INVALID_SOCKET;
  if (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in))))
    return Fail(WSAEFAULT), INVALID_SOCKET;
  ::sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = ::accept4(sock->fd, reinterpret_cast<::sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  int err = errno;
  sock->readArmed = true;
  UpdateNotifiers(*sock);
  if (fd < 0) return Fail(MapErrno(err)), INVALID_SOCKET;
  if (addr) {
    std::memcpy(addr, &peer, sizeof peer);
    *addrlen = sizeof peer;
  }
  Sock* child = Register(fd);
  child->connected = true;
  // An accepted socket inherits the listener's notification registration.
  if (sock->async) WSAAsyncSelect(static_cast<SOCKET>(fd), sock->window, sock->msg, sock->events);
  return static_cast<SOCKET>(fd);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  ::sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(sock->fd, reinterpret_cast<::sockaddr*>(&addr), &len) != 0) return FailErrno();
  std::memcpy(name, &addr, sizeof addr);
  *namelen = sizeof addr;
  return 0;
}

int send(SOCKET s, const char* buf, int len, int flags) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (flags != 0) return Fail(WSAEOPNOTSUPP);
  if (sock->brokenError) return Fail(sock->brokenError);
  ssize_t n = ::send(sock->fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
  if (n < 0) {
    int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      sock->writeWanted = true;
      UpdateNotifiers(*sock);
    } else if (err == ECONNRESET || err == EPIPE) {
      sock->brokenError = WSAECONNRESET;
    }
    return Fail(MapErrno(err));
  }
  return static_cast<int>(n);
}

int recv(SOCKET s, char* buf, int len, int flags) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (flags & ~kWinMsgPeek) return Fail(WSAEOPNOTSUPP);
  if (!sock->connected) return Fail(WSAENOTCONN);
  if (sock->brokenError) return Fail(sock->brokenError);
  ssize_t n = ::recv(sock->fd, buf, static_cast<size_t>(len), (flags & kWinMsgPeek) ? MSG_PEEK : 0);
  int err = errno;
  // Every receive, a peek included, re-arms FD_READ.
  if (!sock->readArmed) {
    sock->readArmed = true;
    UpdateNotifiers(*sock);
  }
  if (n < 0) {
    if (err == ECONNRESET) sock->brokenError = WSAECONNRESET;
    return Fail(MapErrno(err));
  }
  return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  int h = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(sock->fd, h) != 0) return FailErrno();
  return 0;
}

int closesocket(SOCKET s) {
  auto it = Sockets().find(s);
  if (it == Sockets().end()) return Fail(WSAENOTSOCK);
  std::unique_ptr<Sock> sock = std::move(it->second);
  Sockets().erase(it);
  sock->readNotifier.reset();
  sock->writeNotifier.reset();
  ::close(sock->fd);
  return 0;
}

} // namespace win
