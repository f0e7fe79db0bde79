#include "loopback_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testsupport {

PeerScript& PeerScript::ReadUntil(std::string marker) {
  steps_.push_back({Step::ReadUntil, std::move(marker)});
  return *this;
}
PeerScript& PeerScript::ReadBytes(size_t count) {
  steps_.push_back({Step::ReadBytes, {}, count});
  return *this;
}
PeerScript& PeerScript::ReadUntilClosed() {
  steps_.push_back({Step::ReadUntilClosed, {}});
  return *this;
}
PeerScript& PeerScript::Send(std::string bytes) {
  steps_.push_back({Step::Send, std::move(bytes)});
  return *this;
}
PeerScript& PeerScript::SendChunked(const std::string& bytes, size_t chunkSize,
                                    std::chrono::milliseconds pause) {
  for (size_t at = 0; at < bytes.size(); at += chunkSize) {
    if (at > 0) Pause(pause);
    Send(bytes.substr(at, chunkSize));
  }
  return *this;
}
PeerScript& PeerScript::Pause(std::chrono::milliseconds delay) {
  steps_.push_back({Step::Pause, {}, 0, delay});
  return *this;
}
PeerScript& PeerScript::Close() {
  steps_.push_back({Step::Close, {}});
  return *this;
}
PeerScript& PeerScript::ShutdownSend() {
  steps_.push_back({Step::ShutdownSend, {}});
  return *this;
}
PeerScript& PeerScript::Reset() {
  steps_.push_back({Step::Reset, {}});
  return *this;
}
PeerScript& PeerScript::StaySilent() {
  steps_.push_back({Step::StaySilent, {}});
  return *this;
}

struct LoopbackPeer::Conn {
  int fd = -1;
  std::string received;
  bool done = false;
};

namespace {
void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}
} // namespace

LoopbackPeer::LoopbackPeer(PeerScript script) : LoopbackPeer(std::vector<PeerScript>{script}) {}

LoopbackPeer::LoopbackPeer(std::vector<PeerScript> scripts) : scripts_(std::move(scripts)) {
  if (scripts_.empty()) scripts_.emplace_back();
  if (pipe2(wakePipe_, O_CLOEXEC) != 0) Fail("pipe");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Fail("bind");
  if (::listen(listenFd_, 16) != 0) Fail("listen");
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackPeer::~LoopbackPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  char c = 1;
  [[maybe_unused]] ssize_t w = ::write(wakePipe_[1], &c, 1);
  acceptor_.join();
  for (auto& t : threads_)
    t.join();
  for (auto& conn : conns_)
    if (conn->fd >= 0) ::close(conn->fd);
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string LoopbackPeer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

size_t LoopbackPeer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return conns_.size();
}

std::string LoopbackPeer::Received(size_t connection) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection < conns_.size() ? conns_[connection]->received : std::string();
}

bool LoopbackPeer::WaitDone(size_t connection, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [&] { return connection < conns_.size() && conns_[connection]->done; });
}

bool LoopbackPeer::WaitReadable(int fd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
  while (true) {
    int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (fds[1].revents) return false;
    return true;
  }
}

bool LoopbackPeer::SleepUnlessStopped(std::chrono::milliseconds delay) {
  pollfd fd{wakePipe_[0], POLLIN, 0};
  auto end = std::chrono::steady_clock::now() + delay;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    int r = ::poll(&fd, 1, static_cast<int>(left.count()));
    if (r > 0) return false;
  }
}

void LoopbackPeer::AcceptLoop() {
  while (WaitReadable(listenFd_)) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    size_t index = conns_.size();
    conns_.push_back(std::make_unique<Conn>());
    conns_.back()->fd = fd;
    Conn& conn = *conns_.back();
    const PeerScript& script = scripts_[std::min(index, scripts_.size() - 1)];
    threads_.emplace_back([this, &conn, &script] { Run(conn, script); });
    changed_.notify_all();
  }
}

void LoopbackPeer::Run(Conn& conn, const PeerScript& script) {
  using Step = PeerScript::Step;
  // Reads what is available into received; false when the client closed or the peer stopped.
  auto readSome = [&]() {
    if (!WaitReadable(conn.fd)) return false;
    char buf[4096];
    ssize_t n = ::recv(conn.fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    conn.received.append(buf, static_cast<size_t>(n));
    return true;
  };
  auto receivedSize = [&]() {
    std::lock_guard<std::mutex> lock(mutex_);
    return conn.received.size();
  };
  auto receivedHas = [&](const std::string& marker) {
    std::lock_guard<std::mutex> lock(mutex_);
    return conn.received.find(marker) != std::string::npos;
  };

  bool alive = true;
  for (const Step& step : script.Steps()) {
    if (!alive) break;
    switch (step.kind) {
    case Step::ReadUntil:
      while (!receivedHas(step.data) && (alive = readSome())) {
      }
      alive = true;
      break;
    case Step::ReadBytes: {
      size_t target = receivedSize() + step.count;
      while (receivedSize() < target && readSome()) {
      }
      break;
    }
    case Step::ReadUntilClosed:
      while (readSome()) {
      }
      break;
    case Step::Send: {
      size_t at = 0;
      while (at < step.data.size()) {
        ssize_t n = ::send(conn.fd, step.data.data() + at, step.data.size() - at, MSG_NOSIGNAL);
        if (n <= 0) {
          alive = false;
          break;
        }
        at += static_cast<size_t>(n);
      }
      break;
    }
    case Step::Pause:
      alive = SleepUnlessStopped(step.delay);
      break;
    case Step::Close:
      ::shutdown(conn.fd, SHUT_WR);
      alive = false;
      break;
    case Step::ShutdownSend:
      ::shutdown(conn.fd, SHUT_WR);
      break;
    case Step::Reset: {
      linger l{1, 0};
      ::setsockopt(conn.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      std::lock_guard<std::mutex> lock(mutex_);
      ::close(conn.fd);
      conn.fd = -1;
      alive = false;
      break;
    }
    case Step::StaySilent:
      while (readSome()) {
      }
      break;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  conn.done = true;
  changed_.notify_all();
}

uint16_t UnusedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

StalledListener::StalledListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("bind");
  if (::listen(fd_, 0) != 0) Fail("listen");
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  // Connections nobody accepts fill the queue; the kernel then drops further SYNs.
  for (int i = 0; i < 3; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers_.push_back(c);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

StalledListener::~StalledListener() {
  for (int c : fillers_)
    ::close(c);
  ::close(fd_);
}

} // namespace testsupport
