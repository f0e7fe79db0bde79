#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <string>

#include "support/peer_socket.h"

namespace testsupport::net {

namespace {
[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": error " + std::to_string(WSAGetLastError()));
}

// The peer's threads use Winsock before and after the component under test starts and stops it.
void Startup() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) Fail("WSAStartup");
}

#include "support/peer_socket_loopback.h"

SOCKET S(Fd fd) {
  return static_cast<SOCKET>(fd);
}
} // namespace

Fd Listen(int backlog, uint16_t& port, Family family) {
  Startup();
  SOCKET fd = ::socket(Domain(family), SOCK_STREAM, 0);
  if (fd == INVALID_SOCKET) Fail("socket");
  sockaddr_storage addr;
  int len = Loopback(0, family, addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) Fail("bind");
  if (backlog >= 0 && ::listen(fd, backlog) != 0) Fail("listen");
  len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = PortOf(addr);
  return static_cast<Fd>(fd);
}

Fd Accept(Fd listener) {
  SOCKET fd = ::accept(S(listener), nullptr, nullptr);
  return fd == INVALID_SOCKET ? kNoFd : static_cast<Fd>(fd);
}

Fd ConnectNonBlocking(uint16_t port, Family family) {
  Startup();
  SOCKET fd = ::socket(Domain(family), SOCK_STREAM, 0);
  u_long on = 1;
  ::ioctlsocket(fd, FIONBIO, &on);
  sockaddr_storage addr;
  int len = Loopback(port, family, addr);
  ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
  return static_cast<Fd>(fd);
}

Fd Connect(uint16_t port) {
  Startup();
  SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd == INVALID_SOCKET) Fail("socket");
  sockaddr_storage addr;
  int len = Loopback(port, Family::V4, addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    ::closesocket(fd);
    Fail("connect");
  }
  return static_cast<Fd>(fd);
}

long Recv(Fd fd, char* buf, size_t len) {
  return ::recv(S(fd), buf, static_cast<int>(len), 0);
}

long Send(Fd fd, const char* buf, size_t len) {
  return ::send(S(fd), buf, static_cast<int>(len), 0);
}

void ShutdownSend(Fd fd) {
  ::shutdown(S(fd), SD_SEND);
}

void CloseWithReset(Fd fd) {
  linger l{1, 0};
  ::setsockopt(S(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  ::closesocket(S(fd));
}

void Close(Fd fd) {
  ::closesocket(S(fd));
}

// A datagram socket sent to itself stands in for the pipe: select waits on sockets only.
Waker::Waker() {
  Startup();
  SOCKET fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_storage addr;
  int len = Loopback(0, Family::V4, addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) Fail("bind");
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
  read_ = write_ = static_cast<Fd>(fd);
}

Waker::~Waker() {
  ::closesocket(S(read_));
}

void Waker::Wake() {
  char c = 1;
  ::send(S(write_), &c, 1, 0);
}

int Waker::WaitReadable(Fd fd, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(S(read_), &set);
  if (fd != kNoFd) FD_SET(S(fd), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int r = ::select(0, &set, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
  if (FD_ISSET(S(read_), &set)) return -1;
  return r > 0 ? 1 : 0;
}

} // namespace testsupport::net
