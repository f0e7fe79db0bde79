// Replies: header and body storage, counters, outcome events and redirects.
#include <gtest/gtest.h>

#include <string>

#include "netcomp/NMHttp.h"
#include "support/http_events.h"
#include "support/loopback_peer.h"
#include "support/testenv.h"

namespace {

using testsupport::Answer;
using testsupport::HttpEvents;
using testsupport::LoopbackPeer;
using testsupport::PeerScript;

std::string Reply(const std::string& statusAndHeaders, const std::string& body) {
  return statusAndHeaders + "\r\n" + body;
}

class HttpReply : public ::testing::Test {
protected:
  TNMHTTP http{nullptr};
  HttpEvents events{http};
  testenv::TempDir dir;

  std::string IntoFile(const std::string& name = "body.bin") {
    http.InputFileMode = true;
    http.Body = dir.file(name);
    return http.Body;
  }
};

TEST_F(HttpReply, BodyIntoFileWithCountersAndHeaderText) {
  std::string body;
  for (int i = 0; i < 1234; ++i)
    body += static_cast<char>(i * 7);
  const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 1234\r\nServer: x\r\n\r\n";
  LoopbackPeer peer(PeerScript()
                        .ReadUntil("\r\n\r\n")
                        .Send(header)
                        .SendChunked(body, 500, std::chrono::milliseconds(30))
                        .Close());
  std::string file = IntoFile();
  http.Get(peer.Url("/f"));
  EXPECT_EQ(testenv::ReadFile(file), body);
  EXPECT_EQ(http.Header, header);
  EXPECT_EQ(http.ReplyNumber, 200);
  EXPECT_EQ(http.BytesTotal, 1234);
  EXPECT_EQ(http.BytesRecvd, 1234);
  EXPECT_EQ(events.Joined(), "success 0");
  ASSERT_GE(events.packets, 2);
  EXPECT_EQ(events.packetTotals.back(), 1234);
  for (size_t i = 1; i < events.packetTotals.size(); ++i)
    EXPECT_GT(events.packetTotals[i], events.packetTotals[i - 1]);
}

TEST_F(HttpReply, ContentLengthRecognitionRules) {
  struct Case {
    const char* lines;
    int64_t total;
    const char* outcome;
  } cases[] = {
      {"content-length: 5", 5, "success 0"},
      {"CONTENT-LENGTH: 5", 5, "success 0"},
      {"Content-Length:5", 5, "success 0"},
      {"Content-Length:\t 5 ", 5, "success 0"},
      {"Content-Length: 5\r\nContent-Length: 5", 5, "success 0"},
      {"Content-Length:   x5", 0, "failure 0"},                   // unreadable
      {"Content-Length: 5\r\nContent-Length: 6", 6, "failure 0"}, // contradicting
      {"Content-Length: 99999999999", 99999999999, "failure 0"},  // beyond 32 bits, body short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    LoopbackPeer peer(
        Answer(Reply(std::string("HTTP/1.0 200 OK\r\n") + c.lines + "\r\n", "hello")));
    events.log.clear();
    http.Get(peer.Url("/"));
    EXPECT_EQ(http.BytesTotal, c.total);
    EXPECT_EQ(events.Joined(), c.outcome);
  }
  // Without Content-Length the total stays 0 while the body is counted.
  LoopbackPeer peer(Answer(Reply("HTTP/1.0 200 OK\r\n", std::string(100000, 'b'))));
  events.log.clear();
  http.Get(peer.Url("/"));
  EXPECT_EQ(http.BytesTotal, 0);
  EXPECT_EQ(http.BytesRecvd, 100000);
  EXPECT_EQ(http.Body.size(), 100000u);
  EXPECT_EQ(events.Joined(), "success 0");
}

TEST_F(HttpReply, TruncatedBodyIsKeptButIsNoSuccess) {
  LoopbackPeer peer(
      Answer(Reply("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n", std::string(600, 'x'))));
  std::string file = IntoFile();
  http.Get(peer.Url("/t"));
  EXPECT_EQ(testenv::ReadFile(file), std::string(600, 'x'));
  EXPECT_EQ(http.BytesRecvd, 600);
  EXPECT_EQ(events.Joined(), "failure 0");

  // HEAD announces a length but never sends the body.
  LoopbackPeer head(Answer("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n"));
  events.log.clear();
  http.Head(head.Url("/t"));
  EXPECT_EQ(events.Joined(), "success 2");
}

TEST_F(HttpReply, ErrorStatusesStoreTheirBody) {
  LoopbackPeer notFound(Answer(Reply("HTTP/1.0 404 Not Found\r\n", "<h1>missing</h1>")));
  std::string file = IntoFile();
  http.Get(notFound.Url("/nope"));
  EXPECT_EQ(http.ReplyNumber, 404);
  EXPECT_EQ(testenv::ReadFile(file), "<h1>missing</h1>");
  EXPECT_EQ(events.Joined(), "failure 0");

  LoopbackPeer auth(Answer(Reply("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n", "")));
  events.log.clear();
  http.Get(auth.Url("/secret"));
  EXPECT_EQ(events.Joined(), "failure 0,authentication-needed");
  EXPECT_EQ(auth.Connections(), 1u);
}

TEST_F(HttpReply, ClosedBeforeReplyingOrNoStatusIsAFailure) {
  LoopbackPeer silent(PeerScript().ReadUntil("\r\n\r\n").Close());
  std::string file = IntoFile();
  testenv::WriteFile(file, "old contents");
  http.Get(silent.Url("/"));
  EXPECT_EQ(http.ReplyNumber, 0);
  EXPECT_EQ(http.Header, "");
  EXPECT_EQ(testenv::ReadFile(file), "old contents");
  EXPECT_EQ(events.Joined(), "failure 0");

  LoopbackPeer garbage(Answer("SSH-2.0-OpenSSH\r\n\r\n"));
  events.log.clear();
  http.Get(garbage.Url("/"));
  EXPECT_EQ(http.ReplyNumber, 0);
  EXPECT_EQ(events.Joined(), "failure 0");

  // 65736 keeps 200 in its low 16 bits, 40000 turns negative: neither is a success.
  for (const char* number : {"65736", "40000", "-1", "42"}) {
    SCOPED_TRACE(number);
    LoopbackPeer odd(Answer(std::string("HTTP/1.0 ") + number + " OK\r\n\r\nbody"));
    events.log.clear();
    http.Get(odd.Url("/"));
    EXPECT_EQ(http.ReplyNumber, static_cast<int16_t>(std::stoi(number)));
    EXPECT_EQ(events.Joined(), "failure 0");
  }
}

TEST_F(HttpReply, BareLineFeedsEndTheHeader) {
  LoopbackPeer peer(Answer("HTTP/1.0 200 OK\nContent-Length: 3\n\nabc\r\n\r\n"));
  http.Get(peer.Url("/"));
  EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\nContent-Length: 3\n\n");
  EXPECT_EQ(http.Body, "abc"); // what follows the announced length is not taken
  EXPECT_EQ(events.Joined(), "success 0");
}

TEST_F(HttpReply, RedirectToAnotherHostOverwritesTheFile) {
  LoopbackPeer second(Answer(Reply("HTTP/1.0 200 OK\r\n", "second body")));
  LoopbackPeer first(Answer(Reply("HTTP/1.0 302 Found\r\nLocation: http://localhost:" +
                                      std::to_string(second.Port()) + "/next\r\n",
                                  "first body, longer than the second")));
  std::string file = IntoFile();
  http.Get(first.Url("/start"));
  ASSERT_TRUE(second.WaitDone());
  EXPECT_EQ(second.Received().substr(0, 36), "GET /next HTTP/1.0\r\nHost: localhost\r");
  EXPECT_EQ(testenv::ReadFile(file), "second body");
  EXPECT_EQ(http.Url, "http://localhost:" + std::to_string(second.Port()) + "/next");
  EXPECT_EQ(events.Joined(), "redirect,success 0");
}

// Through a proxy every target is visible in the request line, including port-80 hosts.
class ProxiedReply : public HttpReply {
protected:
  void SetUp() override { http.Proxy = "127.0.0.1"; }
  std::string RequestLine(LoopbackPeer& proxy, size_t connection) {
    EXPECT_TRUE(proxy.WaitDone(connection));
    std::string request = proxy.Received(connection);
    return request.substr(0, request.find("\r\n"));
  }
};

TEST_F(ProxiedReply, LocationForms) {
  const std::string ok = Reply("HTTP/1.0 200 OK\r\n", "done");
  LoopbackPeer proxy({Answer("HTTP/1.0 302 Found\r\nLocation: http://other.example/x\r\n\r\n"),
                      Answer("HTTP/1.0 301 Moved\r\nLocation: page.html\r\n\r\n"),
                      Answer("HTTP/1.0 302 Found\r\nLocation: /abs?q\r\n\r\n"), Answer(ok)});
  http.ProxyPort = proxy.Port();
  http.Get("http://first.example:8080/start");
  EXPECT_EQ(RequestLine(proxy, 0), "GET http://first.example:8080/start HTTP/1.0");
  EXPECT_EQ(RequestLine(proxy, 1), "GET http://other.example/x HTTP/1.0");
  // A bare file name is put on the current host.
  EXPECT_EQ(RequestLine(proxy, 2), "GET http://other.example/page.html HTTP/1.0");
  // A path keeps host and port; the proxy still gets an absolute URL.
  EXPECT_EQ(RequestLine(proxy, 3), "GET http://other.example/abs?q HTTP/1.0");
  EXPECT_NE(proxy.Received(3).find("\r\nHost: other.example\r\n"), std::string::npos);
  EXPECT_EQ(http.Port, 80);
  EXPECT_EQ(http.Body, "done");
  EXPECT_EQ(events.Joined(), "redirect,redirect,redirect,success 0");
}

TEST_F(ProxiedReply, RedirectWithoutUsableLocationIsAFailure) {
  for (const char* header :
       {"HTTP/1.0 302 Found\r\n\r\n", "HTTP/1.0 301 Moved\r\nLocation:  \r\n\r\n"}) {
    SCOPED_TRACE(header);
    LoopbackPeer proxy({Answer(header), Answer("HTTP/1.0 200 OK\r\n\r\n")});
    http.ProxyPort = proxy.Port();
    events.log.clear();
    http.Get("http://h.example/start");
    EXPECT_EQ(events.Joined(), "failure 0");
    EXPECT_EQ(proxy.Connections(), 1u);
  }
}

TEST_F(ProxiedReply, CookiesOfRedirectsAreKept) {
  LoopbackPeer proxy({Answer("HTTP/1.0 302 Found\r\nSet-Cookie: id=7; path=/\r\n"
                             "Location: http://h.example/b\r\n\r\n"),
                      Answer("HTTP/1.0 200 OK\r\nSet-Cookie: other=1\r\n\r\n")});
  http.ProxyPort = proxy.Port();
  http.Get("http://h.example/a");
  ASSERT_TRUE(proxy.WaitDone(1));
  EXPECT_EQ(proxy.Received(0).find("Cookie:"), std::string::npos);
  EXPECT_NE(proxy.Received(1).find("\r\nCookie: id=7; path=/\r\n"), std::string::npos);
  EXPECT_EQ(http.HeaderInfo->Cookie, "id=7; path=/");
  EXPECT_EQ(http.ReceivedCookie, "other=1");
}

TEST_F(ProxiedReply, HandledRedirectEndsTheCall) {
  LoopbackPeer proxy(Answer("HTTP/1.0 302 Found\r\nLocation: http://h.example/b\r\n\r\nbody"));
  http.ProxyPort = proxy.Port();
  events.handleRedirect = true;
  http.Get("http://h.example/a");
  EXPECT_EQ(events.Joined(), "redirect");
  EXPECT_EQ(proxy.Connections(), 1u);
  EXPECT_EQ(http.Url, "http://h.example/b");
}

TEST_F(ProxiedReply, RedirectChainsEnd) {
  LoopbackPeer proxy(Answer("HTTP/1.0 302 Found\r\nLocation: http://h.example/loop\r\n\r\n"));
  http.ProxyPort = proxy.Port();
  try {
    http.Get("http://h.example/loop");
    FAIL() << "endless redirects accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Too many redirects");
  }
  EXPECT_EQ(proxy.Connections(), static_cast<size_t>(TNMHTTP::MaxPasses));
  EXPECT_EQ(events.log.size(), static_cast<size_t>(TNMHTTP::MaxPasses));
  EXPECT_EQ(events.log.back(), "redirect");
}

TEST_F(ProxiedReply, RedirectsWithoutNewTargetEndAsFailures) {
  for (int status : {299, 303, 304, 307, 399}) {
    SCOPED_TRACE(status);
    LoopbackPeer proxy(Answer("HTTP/1.0 " + std::to_string(status) +
                              " X\r\nLocation: http://h.example/other\r\n\r\n"));
    http.ProxyPort = proxy.Port();
    events.log.clear();
    http.Get("http://h.example/a");
    EXPECT_EQ(proxy.Connections(), 1u);
    EXPECT_EQ(http.ReplyNumber, status);
    EXPECT_EQ(events.Joined(), status == 299 || status == 399 ? "failure 0" : "redirect,failure 0");
  }
}

TEST_F(HttpReply, RedirectToHttpsEndsWithItsException) {
  LoopbackPeer peer(
      Answer(Reply("HTTP/1.0 301 Moved\r\nLocation: https://secure.example/\r\n", "moved")));
  std::string file = IntoFile();
  try {
    http.Get(peer.Url("/"));
    FAIL() << "https followed";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "HTTP Secure Socket is not supported");
  }
  EXPECT_EQ(testenv::ReadFile(file), "moved");
  EXPECT_EQ(events.Joined(), "redirect");
}

TEST_F(HttpReply, FileErrorsAreExceptionsWithoutOutcome) {
  LoopbackPeer peer(Answer(Reply("HTTP/1.0 200 OK\r\n", "x")));
  http.InputFileMode = true;
  http.Body = dir.file("no-such-dir/body.bin");
  try {
    http.Get(peer.Url("/"));
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file " + http.Body);
  }
  http.InputFileMode = false;
  http.OutputFileMode = true;
  http.Header = dir.file("no-such-dir/head.txt");
  EXPECT_THROW(http.Get(peer.Url("/")), EFCreateError);
  EXPECT_EQ(events.Joined(), "");
  // The component is usable again: each failed pass closed its connection.
  http.OutputFileMode = false;
  http.Get(peer.Url("/"));
  EXPECT_EQ(events.Joined(), "success 0");
}

TEST_F(HttpReply, AbortFromProgressEndsTheTransfer) {
  LoopbackPeer peer(PeerScript()
                        .ReadUntil("\r\n\r\n")
                        .Send("HTTP/1.0 200 OK\r\n\r\nfirst block")
                        .Pause(std::chrono::seconds(5))
                        .Send("never read")
                        .Close());
  std::string file = IntoFile();
  http.OnPacketRecvd = [this](TObject*) { http.Abort(); };
  try {
    http.Get(peer.Url("/"));
    FAIL() << "abort ignored";
  } catch (const EAbortError& e) {
    EXPECT_EQ(e.Message, "Socket send aborted");
  }
  EXPECT_EQ(testenv::ReadFile(file), "first block");
  EXPECT_EQ(events.Joined(), "");
  EXPECT_FALSE(http.Connected);
}

TEST_F(HttpReply, StatusesAndTransactionCompleted) {
  std::vector<std::string> statuses;
  http.ReportLevel = 2;
  http.OnStatus = [&](TObject*, const std::string& s) { statuses.push_back(s); };
  LoopbackPeer peer(Answer("HTTP/1.0 204 No Content\r\n\r\n"));
  http.Get(peer.Url("/"));
  EXPECT_EQ(statuses, std::vector<std::string>{"Transaction Completed"});
  EXPECT_EQ(http.ReplyNumber, 204);
}

} // namespace
