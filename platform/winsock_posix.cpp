// Winsock 1.1 on BSD sockets, with notifications posted as window messages.
#include "platform/winapi_net.h"
#include "platform/winapi_posix.h"

// The Windows values of the names that the system headers below define differently.
namespace {
constexpr int kWinSolSocket = SOL_SOCKET;
constexpr int kWinSoLinger = SO_LINGER;
constexpr int kWinSoReuseAddr = SO_REUSEADDR;
constexpr int kWinMsgPeek = MSG_PEEK;
constexpr int kWinSomaxconn = SOMAXCONN;
} // namespace
#undef AF_INET
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

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// glibc makes these macros when optimising; our own functions of the same names must not be
// rewritten by them.
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

namespace {

thread_local int lastError = 0;
int startups = 0;

struct Sock {
  uint64_t serial = 0;
  int fd = -1;
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

std::map<win::SOCKET, std::unique_ptr<Sock>>& Sockets() {
  static auto* sockets = new std::map<win::SOCKET, std::unique_ptr<Sock>>;
  return *sockets;
}
uint64_t nextSerial = 1;

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

Sock* Find(win::SOCKET s) {
  auto it = Sockets().find(s);
  return it == Sockets().end() ? nullptr : it->second.get();
}

// Posts a notification; it is dropped if the socket is closed before delivery.
void Notify(Sock& sock, int event, int error) {
  if (!sock.async || !(sock.events & event)) return;
  win::SOCKET handle = static_cast<win::SOCKET>(sock.fd);
  uint64_t serial = sock.serial;
  win::HWND window = sock.window;
  win::UINT msg = sock.msg;
  win::LPARAM lParam = WSAMAKESELECTREPLY(event, error);
  platform::detail::PostWindowMessage(window, msg, handle, lParam, [=] {
    Sock* s = Find(handle);
    return s && s->serial == serial;
  });
}

void UpdateNotifiers(Sock& sock) {
  bool wantRead =
      sock.async && !sock.closeSent && sock.readArmed && (sock.listening || sock.connected);
  bool wantWrite = sock.async && (sock.connecting || (sock.connected && sock.writeWanted));
  if (sock.readNotifier) sock.readNotifier->setEnabled(wantRead);
  if (sock.writeNotifier) sock.writeNotifier->setEnabled(wantWrite);
}

void OnReadable(win::SOCKET handle) {
  Sock* sock = Find(handle);
  if (!sock) return;
  sock->readArmed = false;
  if (sock->listening) {
    Notify(*sock, FD_ACCEPT, 0);
  } else {
    char c;
    ssize_t n = ::recv(sock->fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      Notify(*sock, FD_READ, 0);
    } else if (n == 0) {
      sock->closeSent = true;
      Notify(*sock, FD_CLOSE, 0);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      sock->readArmed = true;
    } else {
      sock->brokenError = MapErrno(errno);
      sock->closeSent = true;
      Notify(*sock, FD_CLOSE, sock->brokenError);
    }
  }
  UpdateNotifiers(*sock);
}

void OnWritable(win::SOCKET handle) {
  Sock* sock = Find(handle);
  if (!sock) return;
  if (sock->connecting) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(sock->fd, SOL_SOCKET, SO_ERROR, &err, &len);
    sock->connecting = false;
    sock->connected = (err == 0);
    Notify(*sock, FD_CONNECT, MapErrno(err));
    if (sock->connected) Notify(*sock, FD_WRITE, 0);
  } else if (sock->writeWanted) {
    sock->writeWanted = false;
    Notify(*sock, FD_WRITE, 0);
  }
  UpdateNotifiers(*sock);
}

void MakeNotifiers(Sock& sock) {
  if (sock.readNotifier) return;
  win::SOCKET handle = static_cast<win::SOCKET>(sock.fd);
  sock.readNotifier = std::make_unique<QSocketNotifier>(sock.fd, QSocketNotifier::Read);
  sock.writeNotifier = std::make_unique<QSocketNotifier>(sock.fd, QSocketNotifier::Write);
  sock.readNotifier->setEnabled(false);
  sock.writeNotifier->setEnabled(false);
  QObject::connect(sock.readNotifier.get(), &QSocketNotifier::activated,
                   [handle] { OnReadable(handle); });
  QObject::connect(sock.writeNotifier.get(), &QSocketNotifier::activated,
                   [handle] { OnWritable(handle); });
}

Sock* Register(int fd) {
  auto sock = std::make_unique<Sock>();
  sock->serial = nextSerial++;
  sock->fd = fd;
  Sock* raw = sock.get();
  Sockets()[static_cast<win::SOCKET>(fd)] = std::move(sock);
  return raw;
}

// Host lookups: resolved on a worker thread, copied into the caller's buffer on the GUI thread.
struct Lookup {
  win::HWND window;
  win::UINT msg;
  char* buf;
  int buflen;
  std::string name;
};
std::map<uintptr_t, Lookup>& Lookups() {
  static auto* lookups = new std::map<uintptr_t, Lookup>;
  return *lookups;
}
uintptr_t nextTask = 1;

int LookupError(int eai) {
  switch (eai) {
  case EAI_NONAME:
#ifdef EAI_NODATA
  case EAI_NODATA:
#endif
    return WSAHOST_NOT_FOUND;
  case EAI_AGAIN:
    return WSATRY_AGAIN;
  default:
    return WSANO_RECOVERY;
  }
}

// Lays out a hostent with its lists and strings in buf; the size needed, or -1 if buf is short.
int BuildHostEnt(char* buf, int buflen, const std::string& name,
                 const std::vector<uint32_t>& addrs) {
  size_t n = addrs.size();
  size_t need = sizeof(win::hostent) + sizeof(char*) /* aliases */ + (n + 1) * sizeof(char*) +
                n * 4 + name.size() + 1;
  if (need > static_cast<size_t>(buflen)) return -static_cast<int>(need);
  auto* he = reinterpret_cast<win::hostent*>(buf);
  char** aliases = reinterpret_cast<char**>(buf + sizeof(win::hostent));
  char** list = aliases + 1;
  char* data = reinterpret_cast<char*>(list + n + 1);
  aliases[0] = nullptr;
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(data + 4 * i, &addrs[i], 4);
    list[i] = data + 4 * i;
  }
  list[n] = nullptr;
  char* nameCopy = data + 4 * n;
  std::memcpy(nameCopy, name.c_str(), name.size() + 1);
  he->h_name = nameCopy;
  he->h_aliases = aliases;
  he->h_addrtype = 2;
  he->h_length = 4;
  he->h_addr_list = list;
  return static_cast<int>(need);
}

void DeliverLookup(uintptr_t task, int error, std::string canonical, std::vector<uint32_t> addrs) {
  auto it = Lookups().find(task);
  if (it == Lookups().end()) return; // canceled
  Lookup lookup = it->second;
  Lookups().erase(it);
  // The buffer belongs to the window's owner: write nothing once the window is gone.
  if (!win::IsWindow(lookup.window)) return;
  int len = 0;
  if (error == 0) {
    len = BuildHostEnt(lookup.buf, lookup.buflen, canonical, addrs);
    if (len < 0) {
      error = WSAENOBUFS;
      len = -len;
    }
  }
  win::SendMessageA(lookup.window, lookup.msg, task, WSAMAKEASYNCREPLY(len, error));
}

} // namespace

namespace win {

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
  Sock* sock = Find(s);
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

int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, LONG events) {
  Sock* sock = Find(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (events != 0 && !IsWindow(window)) return Fail(WSAEINVAL);
  int flags = ::fcntl(sock->fd, F_GETFL);
  ::fcntl(sock->fd, F_SETFL, flags | O_NONBLOCK);
  sock->async = events != 0;
  sock->window = window;
  sock->msg = msg;
  sock->events = events;
  sock->readArmed = true;
  MakeNotifiers(*sock);
  UpdateNotifiers(*sock);
  if (sock->connected && (events & FD_WRITE)) Notify(*sock, FD_WRITE, 0);
  return 0;
}

HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen) {
  if (startups == 0) return Fail(WSANOTINITIALISED), nullptr;
  if (!name || !buf || !IsWindow(window)) return Fail(WSAEFAULT), nullptr;
  platform::detail::EnsureDispatcher();
  uintptr_t task = nextTask++;
  Lookups()[task] = Lookup{window, msg, buf, buflen, name};
  std::thread([task, host = std::string(name)] {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    int error = rc == 0 ? 0 : LookupError(rc);
    std::string canonical = host;
    std::vector<uint32_t> addrs;
    if (rc == 0) {
      if (result->ai_canonname) canonical = result->ai_canonname;
      for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        uint32_t a = reinterpret_cast<::sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t b : addrs)
          seen = seen || a == b;
        if (!seen) addrs.push_back(a);
      }
      ::freeaddrinfo(result);
      if (addrs.empty()) error = WSANO_DATA;
    }
    platform::detail::PostToGui(
        [task, error, canonical, addrs] { DeliverLookup(task, error, canonical, addrs); });
  }).detach();
  return reinterpret_cast<HANDLE>(task);
}

int WSACancelAsyncRequest(HANDLE task) {
  if (Lookups().erase(reinterpret_cast<uintptr_t>(task)) == 0) return Fail(WSAEINVAL);
  return 0;
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
  Sock* sock = Find(s);
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
  Sock* sock = Find(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  ::sockaddr_in addr{};
  std::memcpy(&addr, name, sizeof addr);
  addr.sin_family = AF_INET;
  if (::bind(sock->fd, reinterpret_cast<::sockaddr*>(&addr), sizeof addr) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET s, int backlog) {
  Sock* sock = Find(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (::listen(sock->fd, backlog == kWinSomaxconn ? SOMAXCONN : backlog) != 0) return FailErrno();
  sock->listening = true;
  sock->readArmed = true;
  UpdateNotifiers(*sock);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  Sock* sock = Find(s);
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
  Sock* sock = Find(s);
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
  Sock* sock = Find(s);
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
  Sock* sock = Find(s);
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
  Sock* sock = Find(s);
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
