// The system's TLS engine against the loopback HTTPS servers its test command starts (one per
// certificate; the test root is trusted through the system's own store, nothing else).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/tls.h"
#include "support/peer_socket.h"

using platform::TlsClient;
using platform::TlsFault;
namespace net = testsupport::net;
namespace tlstext = platform::tlstext;

namespace {

uint16_t ServerPort(const std::string& name) {
  const char* port = std::getenv(("CORVANE_TLS_PORT_" + name).c_str());
  if (!port) throw std::runtime_error("CORVANE_TLS_PORT_" + name + " is not set");
  return static_cast<uint16_t>(std::atoi(port));
}

// The bodies the servers send: byte i is i % 251.
std::string Pattern(size_t n) {
  std::string body(n, '\0');
  for (size_t i = 0; i < n; ++i)
    body[i] = static_cast<char>(i % 251);
  return body;
}

// A session over a blocking loopback connection, as the socket component drives one.
class Session {
public:
  TlsClient tls;
  // The most bytes given to Feed at once.
  size_t feedSize = SIZE_MAX;
  // A byte of the connection's input, counted from the end of the handshake, to change on its way.
  size_t alterAt = SIZE_MAX;

  Session(const std::string& server, const std::string& host)
      : tls(host), fd_(net::Connect(ServerPort(server))) {
    Flush();
  }
  ~Session() { net::Close(fd_); }

  // Sends what the session queued.
  void Flush() {
    std::string& out = tls.Outgoing();
    while (!out.empty()) {
      long n = net::Send(fd_, out.data(), out.size());
      if (n <= 0) return;
      out.erase(0, static_cast<size_t>(n));
    }
  }
  // One read from the connection into the session; false when the connection ended or the
  // session failed.
  bool Pump() {
    char buf[16384];
    long n = net::Recv(fd_, buf, sizeof buf);
    if (n <= 0) {
      tls.ConnectionEnded();
      return false;
    }
    if (tls.Established()) {
      if (alterAt < static_cast<size_t>(n)) buf[alterAt] ^= 0x20;
      alterAt -= std::min(alterAt, static_cast<size_t>(n));
    }
    bool ok = true;
    for (size_t at = 0, end = static_cast<size_t>(n), piece; at < end && ok; at += piece) {
      piece = std::min(feedSize, end - at);
      ok = tls.Feed(buf + at, piece);
    }
    Flush();
    return ok;
  }
  bool Handshake() {
    while (!tls.Established())
      if (!Pump()) return false;
    return true;
  }
  // Sends a request for path and returns the reply's body, read until close_notify or the end of
  // the connection.
  std::string Get(const std::string& path) {
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    EXPECT_TRUE(tls.Write(request.data(), request.size()));
    Flush();
    std::string reply;
    for (;;) {
      char buf[4096];
      while (size_t n = tls.Read(buf, sizeof buf))
        reply.append(buf, n);
      if (tls.PeerClosed() || tls.Fault() != TlsFault::None || !Pump()) break;
    }
    char buf[4096];
    while (size_t n = tls.Read(buf, sizeof buf))
      reply.append(buf, n);
    size_t head = reply.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : reply.substr(head + 4);
  }

private:
  net::Fd fd_;
};

} // namespace

TEST(TlsClient, BodiesArriveByteForByteAndEndWithCloseNotify) {
  const size_t size = 300000; // many records
  for (const char* path : {"/len/", "/nolen/"}) {
    SCOPED_TRACE(path);
    Session s("GOOD", "localhost");
    ASSERT_TRUE(s.Handshake()) << s.tls.Error();
    EXPECT_TRUE(s.tls.Protocol() == "TLSv1.2" || s.tls.Protocol() == "TLSv1.3") << s.tls.Protocol();
    testing::Test::RecordProperty("protocol", s.tls.Protocol());
    std::string body = s.Get(path + std::to_string(size));
    EXPECT_TRUE(body == Pattern(size)) << body.size() << " bytes";
    EXPECT_TRUE(s.tls.PeerClosed());
    EXPECT_EQ(s.tls.Fault(), TlsFault::None) << s.tls.Error();
  }
}

// Records and handshake messages split anywhere are put together.
TEST(TlsClient, TakesItsInputAByteAtATime) {
  Session s("GOOD", "localhost");
  s.feedSize = 1;
  ASSERT_TRUE(s.Handshake()) << s.tls.Error();
  EXPECT_TRUE(s.Get("/len/40000") == Pattern(40000));
  EXPECT_TRUE(s.tls.PeerClosed());
}

// An address names no server (no SNI): the certificate must name the address itself.
TEST(TlsClient, AcceptsACertificateForTheAddressConnectedTo) {
  Session s("GOOD", "127.0.0.1");
  ASSERT_TRUE(s.Handshake()) << s.tls.Error();
  EXPECT_EQ(s.Get("/len/10"), Pattern(10));
}

TEST(TlsClient, CloseQueuesCloseNotifyAndEndsWriting) {
  Session s("GOOD", "localhost");
  ASSERT_TRUE(s.Handshake()) << s.tls.Error();
  s.tls.Close();
  // One record: an alert, which TLS 1.3 sends as application data.
  const std::string& out = s.tls.Outgoing();
  ASSERT_GE(out.size(), 7u);
  EXPECT_EQ(out[0], s.tls.Protocol() == "TLSv1.3" ? 23 : 21);
  EXPECT_EQ(out.size(),
            5u + (static_cast<unsigned char>(out[3]) << 8 | static_cast<unsigned char>(out[4])));
  // The server reads no request from it, only the end of the session, and hangs up.
  s.Flush();
  while (s.Pump()) {
  }
  EXPECT_FALSE(s.tls.Write("x", 1));
}

TEST(TlsClient, RefusesCertificatesTheSystemDoesNotTrust) {
  const struct {
    const char* server;
    const char* host;
    std::string error;
  } cases[] = {
      {"EXPIRED", "localhost", tlstext::Expired()},
      {"WRONGHOST", "localhost", tlstext::WrongHost("localhost")},
      {"WRONGHOST", "127.0.0.1", tlstext::WrongHost("127.0.0.1")},
      {"SELFSIGNED", "localhost", tlstext::SelfSigned()},
      {"UNKNOWN", "localhost", tlstext::UnknownIssuer()},
#ifdef _WIN32
      // Revocation lists are fetched and read by the Windows engine alone.
      {"REVOKED", "localhost", tlstext::Revoked()},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server) + " as " + c.host);
    Session s(c.server, c.host);
    EXPECT_FALSE(s.Handshake());
    EXPECT_FALSE(s.tls.Established());
    EXPECT_EQ(s.tls.Fault(), TlsFault::Certificate);
    EXPECT_EQ(s.tls.Error(), c.error);
    EXPECT_NE(s.tls.Error().find("certificate"), std::string::npos);
  }
}

TEST(TlsClient, RefusesAServerOfferingOnlyTls10) {
  Session s("TLS10", "localhost");
  EXPECT_FALSE(s.Handshake());
  EXPECT_EQ(s.tls.Fault(), TlsFault::Protocol);
  EXPECT_EQ(s.tls.Error(), tlstext::OldProtocol());
}

// A record altered on its way fails the session, after the plaintext of the records before it.
TEST(TlsClient, AnAlteredRecordBreaksTheSessionAfterThePlaintextBeforeIt) {
  Session s("GOOD", "localhost");
  ASSERT_TRUE(s.Handshake()) << s.tls.Error();
  s.alterAt = 80000; // well inside the body, past several whole records
  std::string body = s.Get("/len/200000");
  EXPECT_GT(body.size(), 40000u);
  EXPECT_LT(body.size(), 80000u);
  EXPECT_TRUE(body == Pattern(200000).substr(0, body.size()));
  EXPECT_EQ(s.tls.Fault(), TlsFault::Broken);
  EXPECT_FALSE(s.tls.Error().empty());
  EXPECT_FALSE(s.tls.PeerClosed());
}

// The plaintext that came is kept; that it was all is not known without close_notify.
TEST(TlsClient, AConnectionEndingWithoutCloseNotifyIsBroken) {
  Session s("CUT", "localhost");
  ASSERT_TRUE(s.Handshake()) << s.tls.Error();
  std::string body = s.Get("/nolen/100000");
  EXPECT_TRUE(body == Pattern(100000)) << body.size() << " bytes";
  EXPECT_FALSE(s.tls.PeerClosed());
  EXPECT_EQ(s.tls.Fault(), TlsFault::Broken);
  EXPECT_FALSE(s.tls.Error().empty());
  EXPECT_FALSE(s.tls.Feed("x", 1));
}
