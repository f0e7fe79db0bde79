#include "netcomp/PsockRace.h"

#include <algorithm>

std::vector<win::sockaddr_storage>
TConnectRace::Order(const std::vector<win::sockaddr_storage>& addresses) {
  if (addresses.empty()) return {};
  // The system sorted them by its own rules (and the administrator's): its first address names
  // the family to try first.
  const auto first = addresses.front().ss_family;
  std::vector<win::sockaddr_storage> lead, other, ordered;
  for (const auto& a : addresses)
    (a.ss_family == first ? lead : other).push_back(a);
  for (size_t i = 0; i < std::max(lead.size(), other.size()); ++i) {
    if (i < lead.size()) ordered.push_back(lead[i]);
    if (i < other.size()) ordered.push_back(other[i]);
  }
  return ordered;
}

TConnectRace::TConnectRace(win::HWND window, win::UINT message, long events,
                           std::vector<win::sockaddr_storage> addresses, win::SOCKET spare)
    : window_(window), message_(message), events_(events), addresses_(std::move(addresses)),
      spare_(spare) {}

TConnectRace::~TConnectRace() {
  CloseLosers();
}

bool TConnectRace::Lost() const {
  if (won_ || attempts_.size() < addresses_.size()) return false;
  return std::all_of(attempts_.begin(), attempts_.end(),
                     [](const Attempt& a) { return a.state == State::Failed; });
}

void TConnectRace::Step() {
  if (closed_) return;
  while (!won_ && attempts_.size() < addresses_.size() && Clock::now() >= due_) {
    due_ = Clock::now() + AttemptDelay;
    Start(addresses_[attempts_.size()]);
  }
  ArmTimer();
}

void TConnectRace::Start(const win::sockaddr_storage& address) {
  const bool useSpare = address.ss_family == AF_INET && spare_ != INVALID_SOCKET &&
                        std::none_of(attempts_.begin(), attempts_.end(),
                                     [this](const Attempt& a) { return a.socket == spare_; });
  win::SOCKET s = spare_;
  if (!useSpare) {
    s = win::socket(address.ss_family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
      attempts_.push_back({s, false, State::Connecting});
      Failed(attempts_.size() - 1, win::WSAGetLastError(), true);
      return;
    }
  }
  attempts_.push_back({s, !useSpare, State::Connecting});
  // The component keeps socket handles in 16 bits.
  if (s > 0xFFFF) return Failed(attempts_.size() - 1, WSAEMFILE, true);
  if (!useSpare && win::WSAAsyncSelect(s, window_, message_, events_) != 0)
    return Failed(attempts_.size() - 1, win::WSAGetLastError(), true);
  const int length = address.ss_family == AF_INET6 ? static_cast<int>(sizeof(win::sockaddr_in6))
                                                   : static_cast<int>(sizeof(win::sockaddr_in));
  if (win::connect(s, reinterpret_cast<const win::sockaddr*>(&address), length) == SOCKET_ERROR) {
    const int error = win::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) Failed(attempts_.size() - 1, error, true);
  }
}

void TConnectRace::Failed(size_t attempt, int error, bool atStart) {
  attempts_[attempt].state = State::Failed;
  lastError_ = error;
  lastAtStart_ = atStart;
  // The latest attempt failed: the next one need not wait for its turn.
  if (attempt + 1 == attempts_.size()) due_ = Clock::now();
}

bool TConnectRace::Notify(win::WPARAM socket, win::LPARAM lParam) {
  if (closed_) return false;
  if (won_ && socket == winner_) return false;
  auto it = std::find_if(attempts_.begin(), attempts_.end(), [&](const Attempt& a) {
    return a.socket == socket && a.state != State::Failed;
  });
  if (it == attempts_.end()) return false;
  if (won_ || WSAGETSELECTEVENT(lParam) != FD_CONNECT) return true;
  if (WSAGETSELECTERROR(lParam) == 0) {
    it->state = State::Connected;
    won_ = true;
    winner_ = it->socket;
    ArmTimer();
  } else {
    Failed(static_cast<size_t>(it - attempts_.begin()), WSAGETSELECTERROR(lParam), false);
    // Now, not when the caller's wait next wakes: that may be the attempt timer.
    Step();
  }
  return true;
}

void TConnectRace::ArmTimer() {
  const bool more = !closed_ && !won_ && attempts_.size() < addresses_.size();
  if (!more) {
    if (timerArmed_) win::KillTimer(window_, AttemptTimer);
    timerArmed_ = false;
    return;
  }
  using namespace std::chrono;
  // Rounded up: a tick a little early would cost a whole further timer period (10 ms at least).
  const auto wait = ceil<milliseconds>(due_ - Clock::now()).count();
  timerArmed_ = win::SetTimer(window_, AttemptTimer,
                              static_cast<win::UINT>(std::max<int64_t>(1, wait)), nullptr) != 0;
}

std::vector<win::SOCKET> TConnectRace::CloseLosers() {
  std::vector<win::SOCKET> closed;
  if (closed_) return closed;
  closed_ = true;
  ArmTimer();
  for (const Attempt& a : attempts_) {
    if (!a.ours || a.socket == INVALID_SOCKET || (won_ && a.socket == winner_)) continue;
    win::closesocket(a.socket);
    closed.push_back(a.socket);
  }
  return closed;
}
