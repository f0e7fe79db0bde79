// The downloads room over https: it follows a server from http to https, never back, and does not
// try a refused certificate again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "downloads/Download.h"
#include "support/loopback_peer.h"
#include "support/testenv.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using testsupport::LoopbackPeer;
using testsupport::PeerScript;

std::string GoodUrl(const std::string& server, const std::string& path) {
  const char* port = std::getenv(("CORVANE_TLS_PORT_" + server).c_str());
  return "https://localhost:" + std::string(port ? port : "0") + path;
}

class HttpsDownloads : public ::testing::Test {
protected:
  void SetUp() override {
    http.SecureSocket = true;
    http.TimeOut = 20000;
    http.OnFailure = [this](CmdType) { ++failures; };
    downloads.Pause = [this](int64_t ms) {
      pauses.push_back(ms);
      return true;
    };
  }
  TNMHTTP http{nullptr};
  std::vector<std::string> log;
  std::vector<int64_t> pauses;
  int failures = 0;
  TDownloads downloads{http, [this](const std::string& line) { log.push_back(line); }};
  testenv::TempDir dir;
};

TEST_F(HttpsDownloads, FollowsARedirectFromHttpToHttps) {
  LoopbackPeer peer(
      PeerScript()
          .ReadUntil("\r\n\r\n")
          .Send("HTTP/1.0 301 Moved\r\nLocation: " + GoodUrl("GOOD", "/len/70000") + "\r\n\r\n")
          .Close());
  const std::string dest = dir.file("wallet.bin");
  ASSERT_EQ(downloads.Fetch(peer.Url("/wallet.bin"), dest, false), TDownloads::TResult::Complete);
  std::string expected(70000, '\0');
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i] = static_cast<char>(i % 251);
  EXPECT_TRUE(testenv::ReadFile(TDownloads::PartOf(dest)) == expected);
}

TEST_F(HttpsDownloads, RefusesARedirectFromHttpsToHttp) {
  LoopbackPeer peer(PeerScript().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nplain"));
  const std::string back = peer.Url("/wallet.bin");
  ASSERT_EQ(downloads.Fetch(GoodUrl("GOOD", "/to/" + back), dir.file("wallet.bin"), false),
            TDownloads::TResult::Failed);
  EXPECT_THAT(log, Contains("refused the redirect from https to " + back));
  EXPECT_EQ(peer.Connections(), 0u);
  EXPECT_EQ(failures, 1);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(HttpsDownloads, ACertificateRefusalIsNotTriedAgain) {
  try {
    downloads.Fetch(GoodUrl("EXPIRED", "/len/10"), dir.file("wallet.bin"), false);
    FAIL() << "no exception";
  } catch (const ETlsError& e) {
    EXPECT_THAT(e.Message, HasSubstr("certificate"));
  }
  EXPECT_TRUE(pauses.empty());
}

TEST_F(HttpsDownloads, ACutWithoutCloseNotifyIsTriedAgain) {
  EXPECT_THROW(downloads.Fetch(GoodUrl("CUT", "/nolen/5000"), dir.file("wallet.bin"), false),
               ETlsError);
  EXPECT_FALSE(pauses.empty());
}

} // namespace
