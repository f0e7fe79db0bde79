#include "netcomp/NMStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "netcomp/Psock.h"
#include "platform/tls.h"

namespace {

constexpr int RawBlock = 65536;
// Plaintext encrypted a Send: one full record each, so a slow socket holds little of it.
constexpr int PlainBlock = 16384;

} // namespace

TSockStream::TSockStream(TPowersock& sock) : sock_(sock) {}

TSockStream::~TSockStream() = default;

void TSockStream::Fail() {
  throw ETlsError(tls_->Fault(), tls_->Error());
}

int TSockStream::Flush() {
  std::string& out = tls_->Outgoing();
  size_t sent = 0;
  int result = 1;
  while (sent < out.size()) {
    const int n = win::send(sock_.SocketHandle, out.data() + sent,
                            static_cast<int>(std::min<size_t>(out.size() - sent, INT_MAX)), 0);
    if (n <= 0) {
      result = n < 0 && win::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
      if (n == 0) win::WSASetLastError(WSAECONNRESET);
      break;
    }
    sock_.IdleActivity();
    sent += static_cast<size_t>(n);
  }
  out.erase(0, sent);
  return result;
}

int TSockStream::Fill() {
  while (heldTaken_ == held_.size() && tls_->Pending() == 0) {
    // A record that failed after the plaintext before it was read.
    if (tls_->Fault() != platform::TlsFault::None) Fail();
    if (tls_->PeerClosed()) return 0;
    if (!raw_) raw_ = std::make_unique<char[]>(RawBlock);
    const int n = win::recv(sock_.SocketHandle, raw_.get(), RawBlock, 0);
    if (n > 0) {
      sock_.IdleActivity();
      if (!tls_->Feed(raw_.get(), static_cast<size_t>(n))) Fail();
      // What the session answers by itself (to a key update, say) goes when the socket takes it.
      if (!tls_->Outgoing().empty()) {
        const int error = win::WSAGetLastError();
        Flush();
        win::WSASetLastError(error);
      }
      continue;
    }
    if (n < 0) {
      const int error = win::WSAGetLastError();
      // The close notification replaced the socket; a reset it saw is the component's to raise.
      if (error != WSAENOTCONN || sock_.CloseErrorNo != 0) return -1;
    }
    tls_->ConnectionEnded();
    if (tls_->PeerClosed()) return 0;
    Fail();
  }
  return static_cast<int>(std::min<size_t>(Pending(), INT_MAX));
}

int TSockStream::Recv(char* data, int size) {
  if (!tls_) return win::recv(sock_.SocketHandle, data, size, 0);
  if (size <= 0) return 0;
  const int n = Fill();
  if (n <= 0) return n;
  size_t from = 0;
  if (heldTaken_ < held_.size()) {
    from = std::min<size_t>(static_cast<size_t>(size), held_.size() - heldTaken_);
    std::memcpy(data, held_.data() + heldTaken_, from);
    heldTaken_ += from;
    if (heldTaken_ == held_.size()) {
      held_.clear();
      heldTaken_ = 0;
    }
  }
  return static_cast<int>(from + tls_->Read(data + from, static_cast<size_t>(size) - from));
}

int TSockStream::Peek(char* data, int size) {
  if (!tls_) return win::recv(sock_.SocketHandle, data, size, MSG_PEEK);
  if (size <= 0) return 0;
  const int n = Fill();
  if (n <= 0) return n;
  const size_t want = static_cast<size_t>(size);
  if (held_.size() - heldTaken_ < want && tls_->Pending() > 0) {
    const size_t at = held_.size();
    held_.resize(at + std::min(want, tls_->Pending()));
    held_.resize(at + tls_->Read(held_.data() + at, held_.size() - at));
  }
  const size_t give = std::min(want, held_.size() - heldTaken_);
  std::memcpy(data, held_.data() + heldTaken_, give);
  return static_cast<int>(give);
}

int TSockStream::Send(const char* data, int size) {
  if (!tls_) return win::send(sock_.SocketHandle, data, size, 0);
  const int flushed = Flush();
  if (flushed < 0) return -1;
  if (flushed == 0) {
    win::WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  if (size <= 0) return 0;
  const int take = std::min(size, PlainBlock);
  if (!tls_->Write(data, static_cast<size_t>(take))) Fail();
  // An error shows again at the next call, which has no plaintext to lose by then.
  Flush();
  return take;
}

bool TSockStream::Unsent() const {
  return tls_ && !tls_->Outgoing().empty();
}

size_t TSockStream::Pending() const {
  return tls_ ? held_.size() - heldTaken_ + tls_->Pending() : 0;
}

bool TSockStream::HasData() {
  if (Pending() > 0) return true;
  char byte;
  return win::recv(sock_.SocketHandle, &byte, 1, MSG_PEEK) >= 1;
}

void TSockStream::StartTls(const std::string& host) {
  Reset();
  tls_ = std::make_unique<platform::TlsClient>(host);
  if (tls_->Fault() != platform::TlsFault::None) Fail();
}

TSockStream::TStep TSockStream::Handshake() {
  const int flushed = Flush();
  if (flushed == 0) return TStep::WaitSend;
  if (flushed < 0) {
    sock_.CheckSocketError(WSAEWOULDBLOCK);
    tls_->ConnectionEnded();
    Fail();
  }
  if (tls_->Established()) return TStep::Done;
  if (!raw_) raw_ = std::make_unique<char[]>(RawBlock);
  const int n = win::recv(sock_.SocketHandle, raw_.get(), RawBlock, 0);
  if (n > 0) {
    sock_.IdleActivity();
    if (!tls_->Feed(raw_.get(), static_cast<size_t>(n))) {
      Flush(); // the alert that says why, as far as it goes
      Fail();
    }
    return TStep::Progress;
  }
  if (n < 0) {
    const int error = win::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return TStep::WaitRead;
    if (error != WSAENOTCONN) sock_.CheckSocketError(WSAEWOULDBLOCK);
  }
  tls_->ConnectionEnded();
  Fail();
}

std::string TSockStream::Protocol() const {
  return tls_ ? tls_->Protocol() : std::string();
}

void TSockStream::CloseTls() {
  if (!tls_ || !tls_->Established()) return;
  tls_->Close();
  const int error = win::WSAGetLastError();
  Flush();
  win::WSASetLastError(error);
}

void TSockStream::Reset() {
  tls_.reset();
  held_.clear();
  heldTaken_ = 0;
}
