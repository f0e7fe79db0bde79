// The bytes of the socket component's connection: straight from its socket, or the plaintext of a
// TLS session over it. The only caller of send and recv.
#pragma once

#include <memory>
#include <string>

namespace platform {
class TlsClient;
}
class TPowersock;

class TSockStream {
public:
  explicit TSockStream(TPowersock& sock);
  ~TSockStream();
  TSockStream(const TSockStream&) = delete;
  TSockStream& operator=(const TSockStream&) = delete;

  // As recv: bytes taken (above 0), 0 when the connection has ended (over TLS: only after the
  // server's close_notify), -1 with the Winsock error set. WSAEWOULDBLOCK comes only when the
  // socket's own recv reported it, so the notification that ends a wait is armed. Plaintext
  // already held is given without a socket call. A session that fails (a connection that ends
  // without close_notify included) raises ETlsError.
  int Recv(char* data, int size);
  // As Recv, but the bytes stay for the next Recv.
  int Peek(char* data, int size);
  // As send: bytes taken, or -1 with the Winsock error set (WSAEWOULDBLOCK while earlier
  // encrypted bytes still wait for room). Size 0 only sends what waits.
  int Send(const char* data, int size);
  // Encrypted bytes taken by Send and not yet on the socket.
  bool Unsent() const;
  // Plaintext already decrypted and not yet taken.
  size_t Pending() const;
  // Plaintext held, or bytes queued on the socket.
  bool HasData();

  // Starts a TLS session over the connected socket, its certificate to be valid for host; raises
  // ETlsError when none can be had. Handshake then runs it, one step a call.
  void StartTls(const std::string& host);
  enum class TStep { Done, Progress, WaitRead, WaitSend };
  TStep Handshake();
  bool Secure() const { return tls_ != nullptr; }
  // The negotiated protocol ("TLSv1.3"); empty without a session.
  std::string Protocol() const;
  // Sends this side's close_notify, as far as the socket takes it at once.
  void CloseTls();
  // A new connection: the session of the last one goes.
  void Reset();

private:
  // Sends the encrypted bytes that wait: 1 when none is left, 0 when the socket takes no more
  // now, -1 on an error (set).
  int Flush();
  // Over TLS: until plaintext is held (its amount), the session has ended (0) or the socket has
  // nothing now or failed (-1, error set).
  int Fill();
  [[noreturn]] void Fail();

  TPowersock& sock_;
  std::unique_ptr<platform::TlsClient> tls_;
  std::unique_ptr<char[]> raw_;
  // Plaintext a Peek took from the session, from held_taken_ on.
  std::string held_;
  size_t heldTaken_ = 0;
};
