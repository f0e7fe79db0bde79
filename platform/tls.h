// A TLS client session from the system's own engine: OpenSSL's libssl on Linux (loaded when first
// needed), Schannel on Windows. It never touches a socket: the bytes the connection brought go in,
// the bytes for the connection come out, and plaintext is read and written in between, so the
// socket component keeps its own waits. The server's certificate is checked by the program itself
// against the system's trust, the same way on Windows and under Wine.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// What ended a session. The downloads room decides from it whether a retry may help: a
// certificate or a protocol fault will not heal by itself, a broken connection may.
enum class TlsFault {
  None,
  Certificate, // expired, not yet valid, for another host, self-signed, unknown root, revoked
  Protocol,    // no TLS version or cipher both sides accept, a malformed or unexpected message
  Broken,      // the connection ended without close_notify, or a record could not be read
  Unavailable, // the system's TLS engine could not be loaded
};

class TlsClient {
public:
  // host: the name the server's certificate must be valid for; also sent as SNI (not for an IP
  // address literal, which the certificate must then name instead).
  explicit TlsClient(const std::string& host);
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // Bytes read from the connection. Runs the handshake, or makes plaintext ready to read, as far
  // as they allow. False once the session has failed (see Fault and Error).
  bool Feed(const char* data, size_t size);
  // The connection ended (the peer closed it, or a read returned 0). Before close_notify that is a
  // cut: the session fails with TlsFault::Broken.
  void ConnectionEnded();

  // True once the handshake is done and the certificate was accepted.
  bool Established() const;
  // Bytes waiting to go to the connection (handshake messages, encrypted records, alerts). The
  // caller sends them and erases what it sent.
  std::string& Outgoing();

  // Encrypts plaintext into Outgoing; only when established. False when the session has failed.
  bool Write(const char* data, size_t size);
  // Moves up to size bytes of plaintext into data: what is ready and what further records the
  // bytes fed complete; 0 when none is ready. A record found bad here fails the session (see
  // Fault) after the plaintext before it was given.
  size_t Read(char* data, size_t size);
  // Plaintext ready to read, above 0 whenever any is: no more bytes from the connection are needed
  // for it.
  size_t Pending() const;
  // The server sent close_notify: every byte it sent has arrived.
  bool PeerClosed() const;
  // Queues this side's close_notify into Outgoing.
  void Close();

  TlsFault Fault() const;
  // Why the session failed, for the user: with the word "certificate" for a certificate fault
  // ("The server's certificate has expired"), naming the protocol for a protocol fault.
  const std::string& Error() const;
  // The negotiated protocol, e.g. "TLSv1.3"; empty before the handshake.
  std::string Protocol() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};

// The user's texts for certificate faults, the same on both engines.
namespace tlstext {
std::string Expired();
std::string NotYetValid();
std::string WrongHost(const std::string& host);
std::string SelfSigned();
std::string UnknownIssuer();
std::string Revoked();
std::string Untrusted(const std::string& reason);
std::string OldProtocol();
// The connection ended before the server's close_notify (established) or during the handshake.
std::string Cut(bool established);
} // namespace tlstext

} // namespace platform
