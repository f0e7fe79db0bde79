// Connecting to whichever of a host's addresses answers first (Happy Eyeballs, RFC 8305): the
// attempts start one after another and overlap, and the first connection wins. The socket
// component runs it inside its connect wait and adopts the winner as its socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "platform/win32.h"

class TConnectRace {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds AttemptDelay{250};
  // Timer of the notification window that wakes the wait when the next attempt is due.
  static constexpr win::UINT_PTR AttemptTimer = 3;

  // The family of the first address first, then the families take turns, each keeping its own
  // order.
  static std::vector<win::sockaddr_storage>
  Order(const std::vector<win::sockaddr_storage>& addresses);

  // One attempt per address (ports set), in the order given. Each new socket is registered for
  // message with events on window; spare, an open registered IPv4 socket of the caller, serves
  // the first IPv4 attempt.
  TConnectRace(win::HWND window, win::UINT message, long events,
               std::vector<win::sockaddr_storage> addresses, win::SOCKET spare);
  // Closes what CloseLosers has not.
  ~TConnectRace();
  TConnectRace(const TConnectRace&) = delete;
  TConnectRace& operator=(const TConnectRace&) = delete;

  // Starts the attempts that are due: the first at once, each next one AttemptDelay after the
  // one before, or at once when that one has failed.
  void Step();
  // Takes a notification of one of the attempts; false for any other socket and for the
  // winner's notifications after its connect, which belong to the connection. When the latest
  // attempt has failed, the next one starts here.
  bool Notify(win::WPARAM socket, win::LPARAM lParam);
  // Closes every socket it opened but the winner's; their handles.
  std::vector<win::SOCKET> CloseLosers();

  bool Won() const { return won_; }
  win::SOCKET Winner() const { return winner_; }
  // Every attempt has started and failed.
  bool Lost() const;
  // The Winsock error of the attempt that failed last, and whether connect itself reported it.
  int LastError() const { return lastError_; }
  bool LastFailedAtStart() const { return lastAtStart_; }

private:
  enum class State { Connecting, Failed, Connected };
  struct Attempt {
    win::SOCKET socket;
    bool ours;
    State state;
  };
  void Start(const win::sockaddr_storage& address);
  void Failed(size_t attempt, int error, bool atStart);
  void ArmTimer();

  win::HWND window_;
  win::UINT message_;
  long events_;
  std::vector<win::sockaddr_storage> addresses_;
  win::SOCKET spare_;
  std::vector<Attempt> attempts_;
  Clock::time_point due_{};
  bool won_ = false;
  win::SOCKET winner_ = INVALID_SOCKET;
  int lastError_ = 0;
  bool lastAtStart_ = false;
  bool timerArmed_ = false;
  bool closed_ = false;
};
