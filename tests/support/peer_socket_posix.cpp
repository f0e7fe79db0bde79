#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "support/peer_socket.h"

namespace testsupport::net {

namespace {
[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

#include "support/peer_socket_loopback.h"
} // namespace

Fd Listen(int backlog, uint16_t& port, Family family) {
  int fd = ::socket(Domain(family), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_storage addr;
  socklen_t len = Loopback(0, family, addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) Fail("bind");
  if (backlog >= 0 && ::listen(fd, backlog) != 0) Fail("listen");
  len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = PortOf(addr);
  return fd;
}

Fd Accept(Fd listener) {
  return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

Fd ConnectNonBlocking(uint16_t port, Family family) {
  int fd = ::socket(Domain(family), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_storage addr;
  socklen_t len = Loopback(port, family, addr);
  ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
  return fd;
}

Fd Connect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_storage addr;
  socklen_t len = Loopback(port, Family::V4, addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    Fail("connect");
  }
  return fd;
}

long Recv(Fd fd, char* buf, size_t len) {
  return ::recv(static_cast<int>(fd), buf, len, 0);
}

long Send(Fd fd, const char* buf, size_t len) {
  return ::send(static_cast<int>(fd), buf, len, MSG_NOSIGNAL);
}

void ShutdownSend(Fd fd) {
  ::shutdown(static_cast<int>(fd), SHUT_WR);
}

void CloseWithReset(Fd fd) {
  linger l{1, 0};
  ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(static_cast<int>(fd));
}

void Close(Fd fd) {
  ::close(static_cast<int>(fd));
}

Waker::Waker() {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) Fail("pipe");
  read_ = p[0];
  write_ = p[1];
}

Waker::~Waker() {
  ::close(static_cast<int>(read_));
  ::close(static_cast<int>(write_));
}

void Waker::Wake() {
  char c = 1;
  [[maybe_unused]] ssize_t w = ::write(static_cast<int>(write_), &c, 1);
}

int Waker::WaitReadable(Fd fd, int timeoutMs) {
  pollfd fds[2] = {{static_cast<int>(read_), POLLIN, 0}, {static_cast<int>(fd), POLLIN, 0}};
  while (true) {
    int r = ::poll(fds, fd == kNoFd ? 1 : 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (fds[0].revents) return -1;
    return r > 0 ? 1 : 0;
  }
}

} // namespace testsupport::net
