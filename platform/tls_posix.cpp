#include "platform/tls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <climits>
#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace platform {

namespace {

#define CORVANE_TEXT(x) #x
#define CORVANE_VERSION_TEXT(x) CORVANE_TEXT(x)

// libssl is loaded when the first secure connection starts, as libcrypto is for the first hash:
// plain downloads never pay for it. Without it no secure connection can be made.
struct LibSsl {
#define CORVANE_SSL_ENTRY(name) decltype(&::name) name = nullptr;
#define CORVANE_SSL_ENTRIES                                                                        \
  CORVANE_SSL_ENTRY(TLS_client_method)                                                             \
  CORVANE_SSL_ENTRY(SSL_CTX_new)                                                                   \
  CORVANE_SSL_ENTRY(SSL_CTX_free)                                                                  \
  CORVANE_SSL_ENTRY(SSL_CTX_set_default_verify_paths)                                              \
  CORVANE_SSL_ENTRY(SSL_CTX_set_verify)                                                            \
  CORVANE_SSL_ENTRY(SSL_CTX_set_options)                                                           \
  CORVANE_SSL_ENTRY(SSL_CTX_ctrl)                                                                  \
  CORVANE_SSL_ENTRY(SSL_new)                                                                       \
  CORVANE_SSL_ENTRY(SSL_free)                                                                      \
  CORVANE_SSL_ENTRY(SSL_set_bio)                                                                   \
  CORVANE_SSL_ENTRY(SSL_set_connect_state)                                                         \
  CORVANE_SSL_ENTRY(SSL_ctrl)                                                                      \
  CORVANE_SSL_ENTRY(SSL_get0_param)                                                                \
  CORVANE_SSL_ENTRY(SSL_do_handshake)                                                              \
  CORVANE_SSL_ENTRY(SSL_is_init_finished)                                                          \
  CORVANE_SSL_ENTRY(SSL_read)                                                                      \
  CORVANE_SSL_ENTRY(SSL_peek)                                                                      \
  CORVANE_SSL_ENTRY(SSL_pending)                                                                   \
  CORVANE_SSL_ENTRY(SSL_write)                                                                     \
  CORVANE_SSL_ENTRY(SSL_shutdown)                                                                  \
  CORVANE_SSL_ENTRY(SSL_get_error)                                                                 \
  CORVANE_SSL_ENTRY(SSL_get_verify_result)                                                         \
  CORVANE_SSL_ENTRY(SSL_get_version)                                                               \
  CORVANE_SSL_ENTRY(BIO_new)                                                                       \
  CORVANE_SSL_ENTRY(BIO_s_mem)                                                                     \
  CORVANE_SSL_ENTRY(BIO_free)                                                                      \
  CORVANE_SSL_ENTRY(BIO_write)                                                                     \
  CORVANE_SSL_ENTRY(BIO_read)                                                                      \
  CORVANE_SSL_ENTRY(BIO_ctrl_pending)                                                              \
  CORVANE_SSL_ENTRY(X509_VERIFY_PARAM_set1_host)                                                   \
  CORVANE_SSL_ENTRY(X509_VERIFY_PARAM_set1_ip_asc)                                                 \
  CORVANE_SSL_ENTRY(X509_VERIFY_PARAM_set_hostflags)                                               \
  CORVANE_SSL_ENTRY(X509_verify_cert_error_string)                                                 \
  CORVANE_SSL_ENTRY(ERR_get_error)                                                                 \
  CORVANE_SSL_ENTRY(ERR_clear_error)                                                               \
  CORVANE_SSL_ENTRY(ERR_error_string_n)
  CORVANE_SSL_ENTRIES
#undef CORVANE_SSL_ENTRY
  SSL_CTX* context = nullptr;
};

// The library, its entries and one client context for the whole run (the system's store is read
// once), or nothing when any of them is missing.
const LibSsl* Ssl() {
  static const LibSsl* const loaded = []() -> const LibSsl* {
    void* crypto =
        dlopen("libcrypto.so." CORVANE_VERSION_TEXT(OPENSSL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    void* ssl =
        dlopen("libssl.so." CORVANE_VERSION_TEXT(OPENSSL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (!crypto || !ssl) return nullptr;
    static LibSsl lib;
    bool complete = true;
#define CORVANE_SSL_ENTRY(name)                                                                    \
  lib.name = reinterpret_cast<decltype(&::name)>(dlsym(ssl, #name));                               \
  if (!lib.name) lib.name = reinterpret_cast<decltype(&::name)>(dlsym(crypto, #name));             \
  complete = complete && lib.name;
    CORVANE_SSL_ENTRIES
#undef CORVANE_SSL_ENTRY
    if (!complete) return nullptr;
    SSL_CTX* ctx = lib.SSL_CTX_new(lib.TLS_client_method());
    if (!ctx) return nullptr;
    lib.SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // No renegotiation asked for by the client, no compression; 1.3 where both sides have it.
    lib.SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    if (lib.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) != 1 ||
        lib.SSL_CTX_set_default_verify_paths(ctx) != 1) {
      lib.SSL_CTX_free(ctx);
      return nullptr;
    }
    lib.context = ctx;
    return &lib;
  }();
  return loaded;
}
#undef CORVANE_SSL_ENTRIES

bool IsAddressLiteral(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The reason of the oldest error OpenSSL queued for this thread, and the queue emptied.
std::string TakeErrors(const LibSsl* c, int& reason) {
  reason = 0;
  std::string text;
  unsigned long code, first = 0;
  while ((code = c->ERR_get_error()) != 0)
    if (!first) first = code;
  if (first) {
    char buffer[256];
    c->ERR_error_string_n(first, buffer, sizeof buffer);
    text = buffer;
    reason = ERR_GET_REASON(first);
  }
  return text;
}

} // namespace

struct TlsClient::State {
  const LibSsl* c = Ssl();
  std::string host;
  SSL* ssl = nullptr;
  BIO* in = nullptr;  // what the connection brought, for the session to read
  BIO* out = nullptr; // what the session wrote, for the connection
  std::string outgoing;
  bool established = false;
  bool peerClosed = false;
  TlsFault fault = TlsFault::None;
  std::string error;

  bool Fail(TlsFault kind, std::string text) {
    if (fault == TlsFault::None) {
      fault = kind;
      error = std::move(text);
    }
    return false;
  }

  // Moves what the session wrote into outgoing.
  void Drain() {
    while (size_t n = c->BIO_ctrl_pending(out)) {
      const size_t at = outgoing.size();
      outgoing.resize(at + n);
      const int got = c->BIO_read(out, outgoing.data() + at, static_cast<int>(n));
      outgoing.resize(at + static_cast<size_t>(got > 0 ? got : 0));
      if (got <= 0) break;
    }
  }

  // Why the handshake failed: the certificate when the check refused it, else the protocol.
  bool FailHandshake() {
    int reason = 0;
    const std::string detail = TakeErrors(c, reason);
    const long verify = c->SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) return Fail(TlsFault::Certificate, CertificateText(verify));
    switch (reason) {
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
      return Fail(TlsFault::Protocol, tlstext::OldProtocol());
    default:
      return Fail(TlsFault::Protocol, "The TLS handshake with the server failed" +
                                          (detail.empty() ? std::string() : ": " + detail));
    }
  }

  std::string CertificateText(long verify) const {
    switch (verify) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return tlstext::Expired();
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return tlstext::NotYetValid();
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return tlstext::WrongHost(host);
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return tlstext::SelfSigned();
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return tlstext::UnknownIssuer();
    case X509_V_ERR_CERT_REVOKED:
      return tlstext::Revoked();
    default:
      return tlstext::Untrusted(c->X509_verify_cert_error_string(verify));
    }
  }

  // A failed read or peek: the session ends, a close_notify cleanly, anything else as broken.
  // True when the call only needs more bytes from the connection.
  bool ReadFailed(int result) {
    const int why = c->SSL_get_error(ssl, result);
    if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) return true;
    if (why == SSL_ERROR_ZERO_RETURN) {
      peerClosed = true;
      return true;
    }
    int reason = 0;
    const std::string detail = TakeErrors(c, reason);
    Drain();
    return Fail(TlsFault::Broken,
                "The secure connection failed" + (detail.empty() ? std::string() : ": " + detail));
  }

  // Decrypts the next record that has fully arrived, if none is held yet: what it holds then
  // counts as pending, and is read straight into the caller's buffer later on.
  bool Prepare() {
    if (peerClosed || c->SSL_pending(ssl) > 0) return true;
    char byte;
    const int n = c->SSL_peek(ssl, &byte, 1);
    const bool ok = n > 0 || ReadFailed(n);
    Drain(); // answers to messages after the handshake (a key update, say)
    return ok;
  }

  // Runs the handshake on, then decrypts the first record the bytes in complete.
  bool Advance() {
    c->ERR_clear_error();
    if (!established) {
      const int r = c->SSL_do_handshake(ssl);
      if (r != 1) {
        const int why = c->SSL_get_error(ssl, r);
        Drain(); // an alert for the server, if any
        if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) return true;
        return FailHandshake();
      }
      established = true;
    }
    return Prepare();
  }
};

TlsClient::TlsClient(const std::string& host) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.host = host;
  if (!s.c) {
    s.Fail(TlsFault::Unavailable,
           "Secure connections need OpenSSL's libssl.so." CORVANE_VERSION_TEXT(
               OPENSSL_VERSION_MAJOR) ", which could not be loaded");
    return;
  }
  s.c->ERR_clear_error();
  s.ssl = s.c->SSL_new(s.c->context);
  s.in = s.c->BIO_new(s.c->BIO_s_mem());
  s.out = s.c->BIO_new(s.c->BIO_s_mem());
  if (!s.ssl || !s.in || !s.out) {
    if (s.in) s.c->BIO_free(s.in);
    if (s.out) s.c->BIO_free(s.out);
    s.in = s.out = nullptr;
    s.Fail(TlsFault::Unavailable, "A secure connection could not be prepared");
    return;
  }
  s.c->SSL_set_bio(s.ssl, s.in, s.out); // the session owns both from here on
  s.c->SSL_set_connect_state(s.ssl);
  // An address in brackets, as a URL writes one, is the address.
  std::string name = host;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  X509_VERIFY_PARAM* param = s.c->SSL_get0_param(s.ssl);
  bool named;
  if (IsAddressLiteral(name)) {
    named = s.c->X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1;
  } else {
    s.c->X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = s.c->X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1 &&
            s.c->SSL_ctrl(s.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char*>(name.c_str())) == 1;
  }
  if (!named) {
    s.Fail(TlsFault::Certificate, tlstext::WrongHost(host));
    return;
  }
  s.Advance(); // the ClientHello
}

TlsClient::~TlsClient() {
  if (state_->ssl) state_->c->SSL_free(state_->ssl);
}

bool TlsClient::Feed(const char* data, size_t size) {
  State& s = *state_;
  if (s.fault != TlsFault::None) return false;
  while (size > 0) {
    const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
    if (s.c->BIO_write(s.in, data, chunk) != chunk)
      return s.Fail(TlsFault::Broken, "The secure connection failed: out of memory");
    data += chunk;
    size -= static_cast<size_t>(chunk);
  }
  return s.Advance();
}

void TlsClient::ConnectionEnded() {
  State& s = *state_;
  if (s.peerClosed || s.fault != TlsFault::None) return;
  s.Fail(TlsFault::Broken, tlstext::Cut(s.established));
}

bool TlsClient::Established() const {
  return state_->established && state_->fault == TlsFault::None;
}

std::string& TlsClient::Outgoing() {
  return state_->outgoing;
}

bool TlsClient::Write(const char* data, size_t size) {
  State& s = *state_;
  if (!Established()) return false;
  s.c->ERR_clear_error();
  while (size > 0) {
    const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
    const int n = s.c->SSL_write(s.ssl, data, chunk);
    if (n <= 0) {
      int reason = 0;
      const std::string detail = TakeErrors(s.c, reason);
      s.Drain();
      return s.Fail(TlsFault::Broken, "The secure connection failed" +
                                          (detail.empty() ? std::string() : ": " + detail));
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  s.Drain();
  return true;
}

size_t TlsClient::Read(char* data, size_t size) {
  State& s = *state_;
  if (!s.ssl || !s.established || s.fault != TlsFault::None || s.c->SSL_pending(s.ssl) == 0)
    return 0;
  // Record after record as long as whole ones are there: each is decrypted where the session holds
  // it and copied once, into data.
  s.c->ERR_clear_error();
  size_t got = 0;
  while (got < size) {
    const int n = s.c->SSL_read(s.ssl, data + got,
                                static_cast<int>(std::min<size_t>(size - got, INT_MAX)));
    if (n <= 0) {
      s.ReadFailed(n);
      break;
    }
    got += static_cast<size_t>(n);
  }
  if (s.fault == TlsFault::None) s.Prepare();
  return got;
}

size_t TlsClient::Pending() const {
  const State& s = *state_;
  return s.ssl && s.established && s.fault == TlsFault::None
             ? static_cast<size_t>(std::max(s.c->SSL_pending(s.ssl), 0))
             : 0;
}

bool TlsClient::PeerClosed() const {
  return state_->peerClosed;
}

void TlsClient::Close() {
  State& s = *state_;
  if (!s.ssl || !s.established || s.fault != TlsFault::None) return;
  s.c->ERR_clear_error();
  s.c->SSL_shutdown(s.ssl);
  s.c->ERR_clear_error();
  s.Drain();
}

TlsFault TlsClient::Fault() const {
  return state_->fault;
}

const std::string& TlsClient::Error() const {
  return state_->error;
}

std::string TlsClient::Protocol() const {
  if (!state_->ssl || !state_->established) return {};
  return state_->c->SSL_get_version(state_->ssl);
}

} // namespace platform
