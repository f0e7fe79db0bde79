#include "platform/tls.h"

#include <algorithm>

#include "platform/tls_plaintext.h"

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

} // namespace platform::tlstext

namespace platform {

void TlsPlaintext::Append(const char* data, size_t size) {
  // Once all was read the buffer starts over, so it does not grow with the download.
  if (taken_ == held_.size()) {
    held_.clear();
    taken_ = 0;
  }
  held_.append(data, size);
}

size_t TlsPlaintext::Read(char* data, size_t size) {
  const size_t n = std::min(size, Pending());
  held_.copy(data, n, taken_);
  taken_ += n;
  if (taken_ == held_.size()) {
    held_.clear();
    taken_ = 0;
  }
  return n;
}

} // namespace platform
