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

socklen_t ToSystemAddress(const Sock& sock, const win::sockaddr* name, int namelen,
                          ::sockaddr_storage& out) {
  out = {};
  if (sock.family == kWinAfInet6) {
    if (!name || namelen < static_cast<int>(sizeof(win::sockaddr_in6))) return 0;
    win::sockaddr_in6 w;
    std::memcpy(&w, name, sizeof w);
    auto& a = reinterpret_cast<::sockaddr_in6&>(out);
    a.sin6_family = AF_INET6;
    a.sin6_port = w.sin6_port;
    a.sin6_flowinfo = w.sin6_flowinfo;
    std::memcpy(&a.sin6_addr, w.sin6_addr.u.Byte, 16);
    a.sin6_scope_id = w.sin6_scope_id;
    return sizeof a;
  }
  if (!name || namelen < static_cast<int>(sizeof(win::sockaddr_in))) return 0;
  auto& a = reinterpret_cast<::sockaddr_in&>(out);
  std::memcpy(&a, name, sizeof a);
  a.sin_family = AF_INET;
  return sizeof a;
}

bool FromSystemAddress(const ::sockaddr_storage& in, win::sockaddr* name, int* namelen) {
  if (in.ss_family == AF_INET6) {
    if (*namelen < static_cast<int>(sizeof(win::sockaddr_in6))) return false;
    const auto& a = reinterpret_cast<const ::sockaddr_in6&>(in);
    win::sockaddr_in6 w{};
    w.sin6_family = kWinAfInet6;
    w.sin6_port = a.sin6_port;
    w.sin6_flowinfo = a.sin6_flowinfo;
    std::memcpy(w.sin6_addr.u.Byte, &a.sin6_addr, 16);
    w.sin6_scope_id = a.sin6_scope_id;
    std::memcpy(name, &w, sizeof w);
    *namelen = sizeof w;
    return true;
  }
  if (*namelen < static_cast<int>(sizeof(win::sockaddr_in))) return false;
  std::memcpy(name, &in, sizeof(::sockaddr_in));
  *namelen = sizeof(::sockaddr_in);
  return true;
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
  if (af != 2 && af != kWinAfInet6) return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  if (type != 1) return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
  if (protocol != 0 && protocol != 6) return Fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
  int fd = ::socket(af == 2 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailErrno(), INVALID_SOCKET;
  if (af == kWinAfInet6) {
    // Windows' IPv6 sockets take IPv6 alone; Linux's would take mapped IPv4 addresses too.
    int on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  Register(fd)->family = af;
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
  ::sockaddr_storage addr;
  socklen_t len = ToSystemAddress(*sock, name, namelen, addr);
  if (len == 0) return Fail(WSAEFAULT);
  if (sock->connected) return Fail(WSAEISCONN);
  if (sock->connecting) return Fail(WSAEALREADY);
  if (sock->family == kWinAfInet6) {
    if (name->sa_family != kWinAfInet6) return Fail(WSAEAFNOSUPPORT);
    static const unsigned char unspecified[16] = {};
    if (std::memcmp(&reinterpret_cast<::sockaddr_in6&>(addr).sin6_addr, unspecified, 16) == 0)
      return Fail(WSAEADDRNOTAVAIL);
  } else if (reinterpret_cast<::sockaddr_in&>(addr).sin_addr.s_addr == 0) {
    return Fail(WSAEADDRNOTAVAIL);
  }
  int rc = ::connect(sock->fd, reinterpret_cast<::sockaddr*>(&addr), len);
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
  ::sockaddr_storage addr;
  socklen_t len = ToSystemAddress(*sock, name, namelen, addr);
  if (len == 0) return Fail(WSAEFAULT);
  if (::bind(sock->fd, reinterpret_cast<::sockaddr*>(&addr), len) != 0) return FailErrno();
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
  const int need = sock->family == kWinAfInet6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (addr && (!addrlen || *addrlen < need)) return Fail(WSAEFAULT), INVALID_SOCKET;
  ::sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  int fd = ::accept4(sock->fd, reinterpret_cast<::sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  int err = errno;
  sock->readArmed = true;
  UpdateNotifiers(*sock);
  if (fd < 0) return Fail(MapErrno(err)), INVALID_SOCKET;
  if (addr) FromSystemAddress(peer, addr, addrlen);
  Sock* child = Register(fd);
  child->family = sock->family;
  child->connected = true;
  // An accepted socket inherits the listener's notification registration.
  if (sock->async) WSAAsyncSelect(static_cast<SOCKET>(fd), sock->window, sock->msg, sock->events);
  return static_cast<SOCKET>(fd);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  Sock* sock = FindSocket(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!name || !namelen) return Fail(WSAEFAULT);
  ::sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(sock->fd, reinterpret_cast<::sockaddr*>(&addr), &len) != 0) return FailErrno();
  if (!FromSystemAddress(addr, name, namelen)) return Fail(WSAEFAULT);
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
