// The HTTP component over TLS against the scripted HTTPS servers (run inside the test root's
// namespace, the servers' ports in CORVANE_TLS_PORT_*): bodies byte for byte, cuts and refusals
// with their kind, plaintext already decrypted read without waiting, the default kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "netcomp/NMHttp.h"
#include "support/http_events.h"
#include "support/loopback_peer.h"

namespace {

using platform::TlsFault;
using ::testing::HasSubstr;

std::string TlsPort(const std::string& server) {
  const char* port = std::getenv(("CORVANE_TLS_PORT_" + server).c_str());
  return port ? port : "";
}

std::string Url(const std::string& server, const std::string& path,
                const std::string& host = "localhost") {
  return "https://" + host + ":" + TlsPort(server) + path;
}

// The bytes the servers send as a body of n bytes.
std::string Pattern(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<char>(i % 251);
  return out;
}

class Https : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(TlsPort("GOOD").empty()) << "run inside with-test-root.sh and tls_server.py";
    http.SecureSocket = true;
    http.TimeOut = 20000;
  }
  TNMHTTP http{nullptr};
  testsupport::HttpEvents events{http};
};

TEST_F(Https, BodiesArriveByteForByte) {
  const struct {
    const char* host;
    const char* path;
    size_t size;
  } cases[] = {
      {"localhost", "/len/300000", 300000},
      {"localhost", "/nolen/300000", 300000}, // ends with the server's close_notify
      {"127.0.0.1", "/len/1000", 1000},       // an address the certificate names
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + c.path);
    events.log.clear();
    http.Get(Url("GOOD", c.path, c.host));
    EXPECT_EQ(events.Joined(), "success 0");
    EXPECT_TRUE(http.Body == Pattern(c.size)) << http.Body.size() << " bytes";
    EXPECT_EQ(http.BytesRecvd, static_cast<int64_t>(c.size));
  }
}

TEST_F(Https, ConnectionCutWithoutCloseNotifyIsNoSuccess) {
  try {
    http.Get(Url("CUT", "/nolen/100000"));
    FAIL() << "no exception";
  } catch (const ETlsError& e) {
    EXPECT_EQ(e.Fault, TlsFault::Broken);
    EXPECT_FALSE(e.Lasting());
  }
  EXPECT_EQ(events.Joined(), "");
}

// Replies that end at their header, and a redirect whose body is cut, need no close_notify from a
// server that closes without one.
TEST_F(Https, RepliesWithoutBodyAndRedirectsEndWithoutCloseNotify) {
  const struct {
    CmdType command;
    std::string path;
    const char* events;
    std::string body;
  } cases[] = {
      {CmdHead, "/len/1000", "success 2", ""},
      {CmdGet, "/status/204", "success 0", ""},
      {CmdGet, "/status/304", "redirect,failure 0", ""},
      {CmdGet, "/to/" + Url("CUT", "/len/1000"), "redirect,success 0", Pattern(1000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    events.log.clear();
    if (c.command == CmdHead)
      http.Head(Url("CUT", c.path));
    else
      http.Get(Url("CUT", c.path));
    EXPECT_EQ(events.Joined(), c.events);
    EXPECT_TRUE(http.Body == c.body) << http.Body.size() << " bytes";
  }
  EXPECT_EQ(http.BytesTotal, 1000) << "the length the HEAD reply named";
}

TEST_F(Https, RefusedServersNameTheirFault) {
  const struct {
    const char* server;
    TlsFault fault;
    const char* text;
  } cases[] = {
      {"EXPIRED", TlsFault::Certificate, "The server's certificate has expired"},
      {"WRONGHOST", TlsFault::Certificate, "The server's certificate is not valid for localhost"},
      {"SELFSIGNED", TlsFault::Certificate, "certificate is self-signed"},
      {"UNKNOWN", TlsFault::Certificate, "certificate was issued by an authority"},
      {"TLS10", TlsFault::Protocol, "TLS 1.2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    try {
      http.Get(Url(c.server, "/len/10"));
      ADD_FAILURE() << "no exception";
    } catch (const ETlsError& e) {
      EXPECT_EQ(e.Fault, c.fault);
      EXPECT_TRUE(e.Lasting());
      EXPECT_THAT(e.Message, HasSubstr(c.text));
    }
    EXPECT_EQ(events.Joined(), "");
    EXPECT_FALSE(http.Connected);
  }
}

TEST_F(Https, RefusedWhenNotTurnedOn) {
  TNMHTTP plain(nullptr);
  try {
    plain.Get(Url("GOOD", "/len/10"));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "HTTP Secure Socket is not supported");
  }
}

// Drops the socket notifications of a component while it lives: a read that waited for one
// would wait until its time-out.
class HeldNotifications {
public:
  explicit HeldNotifications(win::HWND window) : window_(window) {
    original = reinterpret_cast<win::WNDPROC>(
        win::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<win::LONG_PTR>(&Proc)));
  }
  ~HeldNotifications() {
    win::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<win::LONG_PTR>(original));
  }

private:
  static win::LRESULT CALLBACK Proc(win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
    if (msg == TPowersock::SocketMessage) return 0;
    return win::CallWindowProcA(original, w, msg, wp, lp);
  }
  static inline win::WNDPROC original = nullptr;
  win::HWND window_;
};

struct TestSock : TPowersock {
  using TPowersock::SocketWindow;
  using TPowersock::TPowersock;
};

TEST(HttpsStream, PlaintextHeldIsReadWithoutASocketNotification) {
  TestSock sock(nullptr);
  sock.Host = "127.0.0.1";
  sock.Port = std::atoi(TlsPort("GOOD").c_str());
  sock.SecureHost = "localhost";
  sock.TimeOut = 3000;
  sock.Connect();
  // The reply's header and body come in one record: the first line decrypts all of them.
  sock.Writeln("GET /len/100 HTTP/1.0\r\n");
  EXPECT_EQ(sock.ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_GT(sock.Stream().Pending(), 100u);
  HeldNotifications held(sock.SocketWindow);
  EXPECT_EQ(sock.ReadLn(), "Content-Length: 100\r\n");
  EXPECT_EQ(sock.ReadLn(), "\r\n");
  EXPECT_TRUE(sock.DataAvailable());
  EXPECT_TRUE(sock.CaptureString(100) == Pattern(100));
  sock.Disconnect();
}

TEST(HttpsStream, HandshakeEndsWithTheConnectsLimits) {
  // A server that accepts and never answers the hello.
  testsupport::LoopbackPeer peer(testsupport::PeerScript().StaySilent());
  const struct {
    const char* what;
    int32_t timeOut, idle;
  } cases[] = {{"deadline", 300, 0}, {"idle limit", 0, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TPowersock sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = peer.Port();
    sock.SecureHost = "localhost";
    sock.TimeOut = c.timeOut;
    sock.IdleTimeOut = c.idle;
    try {
      sock.Connect();
      ADD_FAILURE() << "no exception";
    } catch (const ESockError& e) {
      EXPECT_EQ(e.Message, "Connection Timed out");
    }
    EXPECT_EQ(sock.IdleTimedOut, c.idle > 0);
    EXPECT_FALSE(sock.Connected);
  }
}

} // namespace
