// Socket notifications: readiness seen by the GUI thread's event loop, posted as window messages.
#include "platform/winsock_table_posix.h"

#include <cerrno>

namespace platform::detail {

// Posts a notification; it is dropped if the socket is closed before delivery.
void Notify(Sock& sock, int event, int error) {
  if (!sock.async || !(sock.events & event)) return;
  win::SOCKET handle = static_cast<win::SOCKET>(sock.fd);
  uint64_t serial = sock.serial;
  win::HWND window = sock.window;
  win::UINT msg = sock.msg;
  win::LPARAM lParam = WSAMAKESELECTREPLY(event, error);
  platform::detail::PostWindowMessage(window, msg, handle, lParam, [=] {
    Sock* s = FindSocket(handle);
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

namespace {

void OnReadable(win::SOCKET handle) {
  Sock* sock = FindSocket(handle);
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
  Sock* sock = FindSocket(handle);
  if (!sock) return;
  if (sock->connecting) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(sock->fd, SOL_SOCKET, SO_ERROR, &err, &len);
    sock->connecting = false;
    if (err == ECONNRESET || err == EPIPE) {
      // The connection was made and the peer reset it before this notification was handled.
      // Winsock reports the connect as done and the reset as the close; reading SO_ERROR has
      // cleared it, so every later call is told here.
      sock->connected = true;
      sock->brokenError = WSAECONNRESET;
      sock->closeSent = true;
      Notify(*sock, FD_CONNECT, 0);
      Notify(*sock, FD_CLOSE, WSAECONNRESET);
    } else {
      sock->connected = (err == 0);
      Notify(*sock, FD_CONNECT, MapErrno(err));
      if (sock->connected) Notify(*sock, FD_WRITE, 0);
    }
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

} // namespace

} // namespace platform::detail

namespace win {

using namespace platform::detail;

int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, LONG events) {
  Sock* sock = FindSocket(s);
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

} // namespace win
