#include "platform/tls.h"

namespace platform::tlstext {

std::string Expired() {
  return "The server's certificate has expired";
}
std::string NotYetValid() {
  return "The server's certificate is not valid yet";
}
std::string WrongHost(const std::string& host) {
  return "The server's certificate is not valid for " + host;
}
std::string SelfSigned() {
  return "The server's certificate is self-signed and not trusted";
}
std::string UnknownIssuer() {
  return "The server's certificate was issued by an authority this computer does not trust";
}
std::string Revoked() {
  return "The server's certificate has been revoked";
}
std::string Untrusted(const std::string& reason) {
  return "The server's certificate is not trusted: " + reason;
}
std::string OldProtocol() {
  return "The server offers no TLS protocol version this program accepts (TLS 1.2 or later)";
}

std::string Cut(bool established) {
  return established ? "The connection ended before the server closed the TLS session"
                     : "The connection ended during the TLS handshake";
}

} // namespace platform::tlstext
