// A scripted TCP peer on 127.0.0.1 for socket and HTTP tests. It listens on an ephemeral port
// and runs a script on every accepted connection, each on a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/peer_socket.h"

namespace testsupport {

class PeerScript {
public:
  struct Step {
    enum Kind {
      ReadUntil,
      ReadBytes,
      ReadUntilClosed,
      Send,
      Pause,
      Close,
      ShutdownSend,
      Reset,
      StaySilent
    };
    Kind kind;
    std::string data;
    size_t count = 0;
    std::chrono::milliseconds delay{0};
  };

  // Reads the request until the marker has been received (or the client closes).
  PeerScript& ReadUntil(std::string marker);
  PeerScript& ReadBytes(size_t count);
  // Reads until the client closes its side.
  PeerScript& ReadUntilClosed();
  PeerScript& Send(std::string bytes);
  // Sends the bytes in chunks of the given size with a pause before each chunk after the first.
  PeerScript& SendChunked(const std::string& bytes, size_t chunkSize,
                          std::chrono::milliseconds pause);
  PeerScript& Pause(std::chrono::milliseconds delay);
  // Orderly close (FIN).
  PeerScript& Close();
  // Half close: FIN for the sending side, the connection stays readable.
  PeerScript& ShutdownSend();
  // Abortive close (RST).
  PeerScript& Reset();
  // Keeps the connection open without sending until the client closes or the peer stops.
  PeerScript& StaySilent();

  const std::vector<Step>& Steps() const { return steps_; }

private:
  std::vector<Step> steps_;
};

using net::Family;

class LoopbackPeer {
public:
  // Every connection runs the same script.
  explicit LoopbackPeer(PeerScript script, Family family = Family::V4);
  // Connection i runs scripts[i], the last script for all later ones.
  explicit LoopbackPeer(std::vector<PeerScript> scripts, Family family = Family::V4);
  // Stops: closes the listener, wakes waiting connections, closes them and joins the threads.
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Url(const std::string& path = "/") const;
  // Connections accepted so far.
  size_t Connections() const;
  // Bytes read from connection i so far.
  std::string Received(size_t connection = 0) const;
  // Waits (up to timeout) until connection i has finished its script; false on time-out.
  bool WaitDone(size_t connection = 0,
                std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
  struct Conn;
  void AcceptLoop();
  void Run(Conn& conn, const PeerScript& script);
  // Sleeps for the delay unless the peer is stopped first; false when stopped.
  bool SleepUnlessStopped(std::chrono::milliseconds delay);
  // Waits until fd is readable or the peer is stopped; false when stopped.
  bool WaitReadable(net::Fd fd);

  std::vector<PeerScript> scripts_;
  Family family_;
  net::Fd listenFd_ = net::kNoFd;
  net::Waker waker_;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<Conn>> conns_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
  bool stopping_ = false;
};

// A port on 127.0.0.1 that is bound but not listening while this lives: a connect to it is
// refused, and no other program can take the port meanwhile.
class RefusingPort {
public:
  explicit RefusingPort(Family family = Family::V4) : fd_(net::Listen(-1, port_, family)) {}
  ~RefusingPort() { net::Close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  uint16_t Port() const { return port_; }

private:
  uint16_t port_ = 0;
  net::Fd fd_;
};

// A listener on 127.0.0.1 whose accept queue is full, so that a further connect gets no answer
// and stays in progress until the client gives up.
class StalledListener {
public:
  explicit StalledListener(Family family = Family::V4);
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  uint16_t Port() const { return port_; }

private:
  net::Fd fd_ = net::kNoFd;
  uint16_t port_ = 0;
  std::vector<net::Fd> fillers_;
};

// A server connection that reads up to the end of the request's header (or the given tail),
// answers with the given bytes and closes.
inline PeerScript Answer(const std::string& reply, const std::string& after = "\r\n\r\n") {
  return PeerScript().ReadUntil(after).Send(reply).Close();
}

} // namespace testsupport
