#include "listeners.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {
int working = -1;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::perror(what);
  std::exit(1);
}

sockaddr_in6 V6(uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  a.sin6_port = htons(port);
  return a;
}
} // namespace

void ListenSilentV6(uint16_t& port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a = V6(0);
  socklen_t len = sizeof a;
  Check(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd, 0) == 0,
        "silent listener");
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin6_port);
  for (int i = 0; i < 3; ++i) {
    int filler = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ::usleep(200000);
}

void ListenV4(uint16_t port) {
  working = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  Check(working >= 0 && ::bind(working, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(working, 16) == 0,
        "working listener");
}

void AcceptOne() {
  ::close(::accept(working, nullptr, nullptr));
}
