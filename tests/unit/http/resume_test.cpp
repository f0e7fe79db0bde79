// Range requests that continue a body file.
#include <gtest/gtest.h>

#include <string>

#include "netcomp/NMHttp.h"
#include "platform/crypto.h"
#include "support/http_events.h"
#include "support/loopback_peer.h"
#include "support/testenv.h"

namespace {

using testsupport::Answer;
using testsupport::HttpEvents;
using testsupport::LoopbackPeer;

class HttpResume : public ::testing::Test {
protected:
  TNMHTTP http{nullptr};
  HttpEvents events{http};
  testenv::TempDir dir;
  const std::string file = dir.file("archive.part");

  HttpResume() {
    http.InputFileMode = true;
    http.Body = file;
    testenv::WriteFile(file, "0123");
    http.ResumeFrom = 4;
    http.ResumeTotal = 10;
  }
};

TEST_F(HttpResume, RangeLineOnlyWhenResuming) {
  LoopbackPeer peer(Answer("HTTP/1.0 404 Not Found\r\n\r\n"));
  http.Get(peer.Url("/a"));
  http.ResumeValidator = "\"v1\"";
  http.Get(peer.Url("/a"));
  http.ResumeFrom = 0;
  http.Get(peer.Url("/a"));
  const std::string host = "Host: 127.0.0.1\r\n";
  const std::string accept =
      "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
      "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
  const std::string tail = "Content-type: application/x-www-form-urlencoded\r\n\r\n";
  EXPECT_EQ(peer.Received(0), "GET /a HTTP/1.0\r\n" + host + accept + "Range: bytes=4-\r\n" + tail);
  EXPECT_EQ(peer.Received(1), "GET /a HTTP/1.0\r\n" + host + accept +
                                  "Range: bytes=4-\r\nIf-Range: \"v1\"\r\n" + tail);
  EXPECT_EQ(peer.Received(2), "GET /a HTTP/1.0\r\n" + host + accept + tail);
}

// What a resumed request names as the version it continues: a strong ETag, else Last-Modified;
// nothing that could not go back in a request line of its own.
TEST_F(HttpResume, ValidatorOfTheReply) {
  const std::string date = "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n";
  const struct {
    std::string lines;
    std::string validator;
  } cases[] = {
      {"ETag: \"5f-a1\"\r\n" + date, "\"5f-a1\""},
      {"ETag: W/\"5f-a1\"\r\n" + date, "Tue, 08 Dec 2026 10:00:00 GMT"},
      {"", ""},
      {"ETag: \"a\rb\"\r\n", ""},
  };
  http.ResumeFrom = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    LoopbackPeer peer(Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n" + c.lines + "\r\nok"));
    http.Get(peer.Url("/a"));
    EXPECT_EQ(http.Validator, c.validator);
  }
}

TEST_F(HttpResume, MatchingPartIsAppended) {
  LoopbackPeer peer(Answer("HTTP/1.0 206 Partial Content\r\nContent-Length: 6\r\n"
                           "Content-Range: bytes 4-9/10\r\n\r\n456789"));
  http.Get(peer.Url("/a"));
  EXPECT_EQ(testenv::ReadFile(file), "0123456789");
  EXPECT_EQ(events.Joined(), "success 0");
  EXPECT_TRUE(http.Resumed);
  EXPECT_EQ(http.CapturedStatus, 206);
  EXPECT_EQ(http.BytesTotal, 10);
  EXPECT_EQ(http.BytesRecvd, 10);
}

TEST_F(HttpResume, PartsThatDoNotContinueTheFileFailAndLeaveIt) {
  struct Case {
    const char* why;
    std::string reply;
    std::string fileBefore;
    std::string validator = ""; // of the file's version
  } cases[] = {
      {"other start", "Content-Range: bytes 3-9/10\r\n\r\n3456789", "0123"},
      {"other total", "Content-Range: bytes 4-10/11\r\n\r\n4567890", "0123"},
      {"not to the end", "Content-Range: bytes 4-8/10\r\n\r\n45678", "0123"},
      {"no range", "\r\n456789", "0123"},
      {"more after the range", "Content-Range: bytes 4-9/10 or so\r\n\r\n456789", "0123"},
      {"no total", "Content-Range: bytes 4-9/*\r\n\r\n456789", "0123"},
      {"length off", "Content-Length: 5\r\nContent-Range: bytes 4-9/10\r\n\r\n45678", "0123"},
      {"file is longer", "Content-Range: bytes 4-9/10\r\n\r\n456789", "01234"},
      {"other version", "ETag: \"v2\"\r\nContent-Range: bytes 4-9/10\r\n\r\n456789", "0123",
       "\"v1\""},
      {"other date",
       "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\nContent-Range: bytes 4-9/10\r\n\r\n456789",
       "0123", "Mon, 07 Dec 2026 10:00:00 GMT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testenv::WriteFile(file, c.fileBefore);
    http.ResumeValidator = c.validator;
    events.log.clear();
    LoopbackPeer peer(Answer("HTTP/1.0 206 Partial Content\r\n" + c.reply));
    http.Get(peer.Url("/a"));
    EXPECT_EQ(events.Joined(), "failure 0");
    EXPECT_FALSE(http.Resumed);
    // The part stays as it was, for a later try.
    EXPECT_EQ(http.CapturedStatus, 0);
    EXPECT_EQ(testenv::ReadFile(file), c.fileBefore);
  }
}

// A 206 to a request without a range (a broken cache on the way) is the whole resource only when
// its range covers all of it; any other is no download and leaves the file as it was.
TEST_F(HttpResume, A206ToAPlainRequestIsWholeOnlyWhenItsRangeCoversTheResource) {
  const std::string partial = "HTTP/1.0 206 Partial Content\r\n";
  struct Case {
    const char* why;
    std::string reply;
    std::string outcome, fileAfter;
    int32_t captured;
  } cases[] = {
      {"the first part", "Content-Length: 5\r\nContent-Range: bytes 0-4/10\r\n\r\n01234",
       "failure 0", "0123", 0},
      {"the first part, no length", "Content-Range: bytes 0-3/10\r\n\r\n0123", "failure 0", "0123",
       0},
      {"the last part", "Content-Length: 5\r\nContent-Range: bytes 5-9/10\r\n\r\n56789",
       "failure 0", "0123", 0},
      {"no range", "Content-Length: 5\r\n\r\n01234", "failure 0", "0123", 0},
      {"whole, length off", "Content-Length: 5\r\nContent-Range: bytes 0-9/10\r\n\r\n01234",
       "failure 0", "0123", 0},
      {"whole", "Content-Length: 10\r\nContent-Range: bytes 0-9/10\r\n\r\nabcdefghij", "success 0",
       "abcdefghij", 206},
      {"whole, no length", "Content-Range: bytes 0-9/10\r\n\r\nabcdefghij", "success 0",
       "abcdefghij", 206},
      // Stored: the rest is asked for on the next try.
      {"whole, cut", "Content-Length: 10\r\nContent-Range: bytes 0-9/10\r\n\r\nabcde", "failure 0",
       "abcde", 206},
  };
  http.ResumeFrom = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testenv::WriteFile(file, "0123");
    events.log.clear();
    LoopbackPeer peer(Answer(partial + c.reply));
    http.Get(peer.Url("/a"));
    EXPECT_EQ(events.Joined(), c.outcome);
    EXPECT_EQ(http.CapturedStatus, c.captured);
    EXPECT_EQ(testenv::ReadFile(file), c.fileAfter);
  }
}

// The body's hash comes from the thread that writes it, and covers the whole file: a resumed part
// from its first byte, the prefix included.
TEST_F(HttpResume, BodyIsHashedAsItIsWritten) {
  http.HashBody = true;
  const std::string big(3 << 20, 'z'); // several of the writer's blocks
  LoopbackPeer resumed(Answer("HTTP/1.0 206 Partial Content\r\nContent-Length: 6\r\n"
                              "Content-Range: bytes 4-9/10\r\n\r\n456789"));
  http.Get(resumed.Url("/a"));
  ASSERT_TRUE(http.Resumed);
  EXPECT_EQ(http.BodySha256, platform::FileSha256(file));
  EXPECT_EQ(http.BodySha256, "84d89877f0d4041efb6bf91a16f0248f2fd573e6af05c19f96bedb9f882f7882");

  http.ResumeFrom = 0;
  LoopbackPeer whole(Answer("HTTP/1.0 200 OK\r\n\r\n" + big));
  http.Get(whole.Url("/a"));
  EXPECT_EQ(testenv::ReadFile(file), big);
  EXPECT_EQ(http.BodySha256, platform::FileSha256(file));
  LoopbackPeer unhashed(Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  http.HashBody = false;
  http.Get(unhashed.Url("/a"));
  EXPECT_EQ(http.BodySha256, "");
}

// With a listed size, a reply that announces another one is refused before its body, and a body
// without a length is not stored past it.
TEST_F(HttpResume, ListedSizeIsEnforced) {
  struct Case {
    const char* why;
    int64_t resumeFrom;
    std::string reply;
    std::string outcome, fileAfter;
  } cases[] = {
      {"exact", 0, "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcdefghij", "success 0",
       "abcdefghij"},
      {"announced longer", 0, "HTTP/1.0 200 OK\r\nContent-Length: 11\r\n\r\nabcdefghijk",
       "failure 0", "0123"},
      {"announced shorter", 0, "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabcdefghi", "failure 0",
       "0123"},
      {"no length, longer", 0, "HTTP/1.0 200 OK\r\n\r\n" + std::string(1 << 20, 'x'), "failure 0",
       "xxxxxxxxxx"},
      {"no length, exact", 0, "HTTP/1.0 200 OK\r\n\r\nabcdefghij", "success 0", "abcdefghij"},
      {"rest of another size", 4,
       "HTTP/1.0 206 Partial Content\r\nContent-Length: 7\r\n"
       "Content-Range: bytes 4-10/11\r\n\r\n4567890",
       "failure 0", "0123"},
      {"rest", 4,
       "HTTP/1.0 206 Partial Content\r\nContent-Length: 6\r\n"
       "Content-Range: bytes 4-9/10\r\n\r\n456789",
       "success 0", "0123456789"},
  };
  http.ExpectedSize = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testenv::WriteFile(file, "0123");
    http.ResumeFrom = c.resumeFrom;
    events.log.clear();
    LoopbackPeer peer(Answer(c.reply));
    http.Get(peer.Url("/a"));
    EXPECT_EQ(events.Joined(), c.outcome);
    EXPECT_EQ(testenv::ReadFile(file), c.fileAfter);
  }
}

} // namespace

namespace {

// A redirect or an error reply to a resumed request leaves the file as it was, and a redirect
// asks its new location for the same range.
TEST_F(HttpResume, OnlyTheRestOrTheWholeResourceTouchesTheFile) {
  LoopbackPeer peer({Answer("HTTP/1.0 302 Found\r\nLocation: /b\r\n\r\nmoved page"),
                     Answer("HTTP/1.0 503 Busy\r\nRetry-After: 7\r\n\r\nbusy page")});
  http.Get(peer.Url("/a"));
  ASSERT_TRUE(peer.WaitDone(1));
  EXPECT_EQ(testenv::ReadFile(file), "0123");
  EXPECT_EQ(http.CapturedStatus, 0);
  EXPECT_EQ(http.RetryAfter, 7);
  EXPECT_NE(peer.Received(1).find("GET /b HTTP/1.0\r\n"), std::string::npos);
  EXPECT_NE(peer.Received(1).find("\r\nRange: bytes=4-\r\n"), std::string::npos);
  EXPECT_EQ(events.Joined(), "redirect,failure 0");
}

TEST_F(HttpResume, OverlongValidatorsAndCookiesAreNotKept) {
  const std::string huge(60000, 'v');
  http.ResumeFrom = 0;
  LoopbackPeer peer(
      {Answer("HTTP/1.0 302 Found\r\nSet-Cookie: id=" + huge + "\r\nLocation: /b\r\n\r\n"),
       Answer("HTTP/1.0 200 OK\r\nETag: \"" + huge + "\"\r\nContent-Length: 2\r\n\r\nok")});
  http.Get(peer.Url("/a"));
  ASSERT_TRUE(peer.WaitDone(1));
  EXPECT_EQ(peer.Received(1).find("Cookie"), std::string::npos);
  EXPECT_EQ(http.HeaderInfo->Cookie, "");
  EXPECT_EQ(http.Validator, "");
  EXPECT_EQ(events.Joined(), "redirect,success 0");
}

} // namespace
