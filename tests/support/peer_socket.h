// The few blocking socket calls the loopback peer needs, one implementation per system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testsupport::net {

using Fd = intptr_t;
constexpr Fd kNoFd = -1;

// Listens on 127.0.0.1 on an ephemeral port (a backlog below 0: only binds it); throws
// std::runtime_error on failure.
Fd Listen(int backlog, uint16_t& port);
Fd Accept(Fd listener);
// Starts a connect to 127.0.0.1:port without waiting for it.
Fd ConnectNonBlocking(uint16_t port);
// Connects to 127.0.0.1:port and returns a blocking socket; throws std::runtime_error on failure.
Fd Connect(uint16_t port);
// As recv/send; below 1 means closed or failed.
long Recv(Fd fd, char* buf, size_t len);
long Send(Fd fd, const char* buf, size_t len);
void ShutdownSend(Fd fd);
// Closes so that the peer sees a reset.
void CloseWithReset(Fd fd);
void Close(Fd fd);

// Wakes threads blocked in WaitReadable.
class Waker {
public:
  Waker();
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  void Wake();
  // Blocks until fd (kNoFd: nothing) is readable, the waker is woken, or timeoutMs passes (-1:
  // never). 1 readable, 0 timed out, -1 woken.
  int WaitReadable(Fd fd, int timeoutMs);

private:
  Fd read_ = kNoFd;
  Fd write_ = kNoFd;
};

} // namespace testsupport::net
