// Servers that cut, lie, stall and redirect in odd ways: no reply that is not the whole resource
// ends as a success.
#include <gtest/gtest.h>

#include <string>

#include "netcomp/NMHttp.h"
#include "support/http_events.h"
#include "support/loopback_peer.h"

namespace {

using testsupport::Answer;
using testsupport::HttpEvents;
using testsupport::LoopbackPeer;
using testsupport::PeerScript;

class Hostile : public ::testing::Test {
protected:
  TNMHTTP http{nullptr};
  HttpEvents events{http};

  std::string Get(LoopbackPeer& peer, const std::string& path = "/") {
    events.log.clear();
    http.Get(peer.Url(path));
    return events.Joined();
  }
};

TEST_F(Hostile, RepliesThatAreNotTheWholeResourceFail) {
  struct Case {
    const char* what;
    std::string reply;
  } cases[] = {
      {"status line, then close", "HTTP/1.0 200 OK\r\n"},
      {"close inside a header line", "HTTP/1.0 200 OK\r\nContent-Le"},
      {"close before the blank line", "HTTP/1.0 200 OK\r\nServer: x\r\n"},
      {"interim reply", "HTTP/1.0 100 Continue\r\n\r\nbody"},
      {"partial reply nobody asked for", "HTTP/1.0 206 Partial\r\nContent-Length: 4\r\n\r\nbody"},
      {"unknown transfer coding", "HTTP/1.0 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nbody"},
      {"malformed chunk size", "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"},
      {"chunk longer than its size",
       "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n"},
      {"unfinished chunk stream", "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nab"},
      {"endless chunk-size line",
       "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1" + std::string(10000, '0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackPeer peer(Answer(c.reply));
    EXPECT_EQ(Get(peer), "failure 0");
  }
}

TEST_F(Hostile, StatusLineWithoutReasonPhraseIsAReply) {
  LoopbackPeer peer(Answer("HTTP/1.0 200\r\nContent-Length: 2\r\n\r\nok"));
  EXPECT_EQ(Get(peer), "success 0");
  EXPECT_EQ(http.ReplyNumber, 200);
  EXPECT_EQ(http.Body, "ok");
}

TEST_F(Hostile, ChunkedBodyIsDecoded) {
  LoopbackPeer peer(Answer("HTTP/1.0 200 OK\r\nTransfer-encoding:Chunked\r\n\r\n"
                           "5;ext=1\r\nhello\r\n7\r\n, world\r\n0\r\nTrailer: x\r\n\r\nextra"));
  EXPECT_EQ(Get(peer), "success 0");
  EXPECT_EQ(http.Body, "hello, world");
}

TEST_F(Hostile, BodyEndsAtItsLengthWhileTheServerKeepsTheConnection) {
  LoopbackPeer peer(PeerScript()
                        .ReadUntil("\r\n\r\n")
                        .Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello, and more")
                        .StaySilent());
  http.TimeOut = 20000; // a guard only: the call must end long before
  EXPECT_EQ(Get(peer), "success 0");
  EXPECT_EQ(http.Body, "hello");
  EXPECT_EQ(http.BytesRecvd, 5);
}

// Whatever length or framing they announce, and whatever follows them.
TEST_F(Hostile, RepliesWithoutBodyByStatusOrMethodEndAtTheirHeader) {
  const struct {
    CmdType command;
    const char* header;
    const char* events;
  } cases[] = {
      {CmdHead, "200 OK\r\nContent-Length: 5", "success 2"},
      {CmdHead, "200 OK\r\nTransfer-Encoding: chunked", "success 2"},
      {CmdGet, "204 No Content", "success 0"},
      {CmdGet, "304 Not Modified\r\nContent-Length: 5", "redirect,failure 0"},
      {CmdGet, "100 Continue", "failure 0"},
  };
  http.TimeOut = 20000; // a guard only: each call must end long before
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    LoopbackPeer peer(PeerScript()
                          .ReadUntil("\r\n\r\n")
                          .Send("HTTP/1.0 " + std::string(c.header) + "\r\n\r\nstray")
                          .StaySilent());
    events.log.clear();
    if (c.command == CmdHead)
      http.Head(peer.Url("/"));
    else
      http.Get(peer.Url("/"));
    EXPECT_EQ(events.Joined(), c.events);
    EXPECT_EQ(http.Body, "");
  }
}

TEST_F(Hostile, EndlessHeaderEndsTheCall) {
  std::string lines;
  while (lines.size() <= TNMHTTP::MaxHeaderBytes)
    lines += "X-Filler: 0123456789\r\n";
  LoopbackPeer peer(
      PeerScript().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n" + lines).StaySilent());
  try {
    http.Get(peer.Url("/"));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Reply header too large");
  }
  EXPECT_EQ(events.Joined(), "");
}

TEST_F(Hostile, RelativeLocationsKeepSchemeHostPortAndDirectory) {
  struct Case {
    const char* location;
    const char* request;
  } cases[] = {
      {"Location: next.bin", "GET /dir/next.bin HTTP/1.0"},
      {"location:/x", "GET /x HTTP/1.0"},
      {"LOCATION: \t../up/a:b ", "GET /dir/../up/a:b HTTP/1.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    LoopbackPeer peer({Answer(std::string("HTTP/1.0 302 Found\r\n") + c.location + "\r\n\r\n"),
                       Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    EXPECT_EQ(Get(peer, "/dir/file.bin?x=/y"), "redirect,success 0");
    ASSERT_TRUE(peer.WaitDone(1));
    EXPECT_EQ(peer.Received(1).substr(0, peer.Received(1).find("\r\n")), c.request);
  }
}

TEST_F(Hostile, CredentialsAndRedirectCookiesStayWithTheirHost) {
  LoopbackPeer other(Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  const std::string away = "Location: " + other.Url("/b") + "\r\n";
  LoopbackPeer first({Answer("HTTP/1.0 302 Found\r\nSet-Cookie: id=7\r\n" + away + "\r\n")});
  http.HeaderInfo->UserId = "user";
  http.HeaderInfo->Password = "secret";
  EXPECT_EQ(Get(first), "redirect,success 0");
  ASSERT_TRUE(other.WaitDone());
  EXPECT_NE(first.Received(0).find("\r\nAuthorization: Basic "), std::string::npos);
  EXPECT_EQ(other.Received(0).find("Authorization"), std::string::npos);
  EXPECT_EQ(other.Received(0).find("Cookie"), std::string::npos);
}

} // namespace
