#include "loopback_peer.h"

#include <algorithm>

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
  net::Fd fd = net::kNoFd;
  std::string received;
  bool done = false;
};

LoopbackPeer::LoopbackPeer(PeerScript script, Family family)
    : LoopbackPeer(std::vector<PeerScript>{script}, family) {}

LoopbackPeer::LoopbackPeer(std::vector<PeerScript> scripts, Family family)
    : scripts_(std::move(scripts)), family_(family) {
  if (scripts_.empty()) scripts_.emplace_back();
  listenFd_ = net::Listen(16, port_, family);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackPeer::~LoopbackPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  waker_.Wake();
  acceptor_.join();
  for (auto& t : threads_)
    t.join();
  for (auto& conn : conns_)
    if (conn->fd != net::kNoFd) net::Close(conn->fd);
  net::Close(listenFd_);
}

std::string LoopbackPeer::Url(const std::string& path) const {
  const char* host = family_ == Family::V6 ? "[::1]" : "127.0.0.1";
  return "http://" + std::string(host) + ":" + std::to_string(port_) + path;
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

bool LoopbackPeer::WaitReadable(net::Fd fd) {
  return waker_.WaitReadable(fd, -1) > 0;
}

bool LoopbackPeer::SleepUnlessStopped(std::chrono::milliseconds delay) {
  auto end = std::chrono::steady_clock::now() + delay;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    if (waker_.WaitReadable(net::kNoFd, static_cast<int>(left.count())) < 0) return false;
  }
}

void LoopbackPeer::AcceptLoop() {
  while (WaitReadable(listenFd_)) {
    net::Fd fd = net::Accept(listenFd_);
    if (fd == net::kNoFd) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      net::Close(fd);
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
    long n = net::Recv(conn.fd, buf, sizeof buf);
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
        long n = net::Send(conn.fd, step.data.data() + at, step.data.size() - at);
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
      net::ShutdownSend(conn.fd);
      alive = false;
      break;
    case Step::ShutdownSend:
      net::ShutdownSend(conn.fd);
      break;
    case Step::Reset: {
      std::lock_guard<std::mutex> lock(mutex_);
      net::CloseWithReset(conn.fd);
      conn.fd = net::kNoFd;
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

StalledListener::StalledListener(Family family) {
  fd_ = net::Listen(0, port_, family);
  // Connections nobody accepts fill the queue; the kernel then drops further SYNs.
  for (int i = 0; i < 3; ++i)
    fillers_.push_back(net::ConnectNonBlocking(port_, family));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

StalledListener::~StalledListener() {
  for (net::Fd c : fillers_)
    net::Close(c);
  net::Close(fd_);
}

} // namespace testsupport
