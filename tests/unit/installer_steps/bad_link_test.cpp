// The wallet over links that cut, stall, refuse, redirect and sign in: one press installs it when
// the server gets there in the end, and nothing replaces it that is not the whole program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "install_fixture.h"
#include "support/run_later.h"

namespace installtest {
namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAreArray;

const std::string kWallet = "MZ" + std::string(19998, 'w');
const std::string kLength = "Content-Length: " + std::to_string(kWallet.size());

PeerScript Head(const std::string& head, const std::string& body) {
  return PeerScript().ReadUntil("\r\n\r\n").Send(head + "\r\n\r\n" + body);
}
// The first `cut` bytes of a 200 reply, then the connection closes.
PeerScript CutAt(size_t cut, const std::string& extra = "") {
  return Head("HTTP/1.0 200 OK\r\n" + extra + kLength, kWallet.substr(0, cut)).Close();
}
PeerScript Rest(size_t from) {
  return Reply(
      "HTTP/1.0 206 Partial Content\r\nContent-Length: " + std::to_string(kWallet.size() - from) +
          "\r\nContent-Range: bytes " + std::to_string(from) + "-" +
          std::to_string(kWallet.size() - 1) + "/" + std::to_string(kWallet.size()),
      kWallet.substr(from));
}

PeerScript Busy() {
  return Reply("HTTP/1.0 503 Service Unavailable\r\nContent-Length: 4", "busy");
}

class BadLink : public InstallSteps {
protected:
  // The request's line of that name, or empty.
  std::string Header(size_t connection, const std::string& name) {
    const std::string r = peer->Received(connection);
    size_t at = r.find("\r\n" + name + ": ");
    return at == std::string::npos ? "" : r.substr(at + 2, r.find("\r\n", at + 2) - at - 2);
  }
};

TEST_F(BadLink, WalletArrivesWholeInOnePress) {
  const std::string page = "<html>redirected</html>";
  const struct Case {
    const char* what;
    std::vector<PeerScript> wallet;
    std::string logged;
    std::vector<int64_t> pauses;
    // The Range line of the wallet's connections after the first.
    std::vector<std::string> ranges;
  } cases[] = {
      {"reset before the first byte",
       {PeerScript().ReadUntil("\r\n\r\n").Reset(), Ok(kWallet)},
       "connection lost at byte 0 - retrying in 1 s",
       {1000},
       {""}},
      {"clean cut",
       {CutAt(7000), Rest(7000)},
       "connection lost at byte 7000 - retrying in 1 s",
       {1000},
       {"Range: bytes=7000-"}},
      {"silent stall",
       {Head("HTTP/1.0 200 OK\r\n" + kLength, kWallet.substr(0, 3000)).StaySilent(), Rest(3000)},
       "connection stalled at byte 3000 - retrying in 1 s",
       {1000},
       {"Range: bytes=3000-"}},
      {"503 with Retry-After",
       {Reply("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 2", "busy"), Ok(kWallet)},
       "the server answered 503 - retrying in 2 s",
       {2000},
       {""}},
      {"503 with Retry-After: 0",
       {Reply("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 0", "busy"), Ok(kWallet)},
       "the server answered 503 - retrying in 1 s",
       {1000},
       {""}},
      {"503 for two minutes",
       {Busy(), Busy(), Busy(), Busy(), Busy(), Busy(), Busy(), Ok(kWallet)},
       "the server answered 503 - retrying in 60 s",
       {1000, 2000, 4000, 8000, 16000, 32000, 60000},
       {""}},
      {"503 with a Retry-After beyond any clock",
       {Reply("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 99999999999999999", "busy"),
        Ok(kWallet)},
       "the server answered 503 - retrying in 300 s",
       {300000},
       {""}},
      {"redirected resume",
       {CutAt(5000),
        Reply("HTTP/1.0 302 Found\r\nLocation: /mirror/corvane-qt.exe\r\nContent-Length: " +
                  std::to_string(page.size()),
              page),
        Rest(5000)},
       "resuming download from byte 5000",
       {1000},
       {"Range: bytes=5000-", "Range: bytes=5000-"}},
      {"206 that does not continue the part",
       {CutAt(5000), Rest(4000), Ok(kWallet)},
       "cannot resume - starting over",
       {1000},
       {"Range: bytes=5000-", ""}},
      {"validator too long to send back",
       {CutAt(5000, "ETag: \"" + std::string(60000, 'e') + "\"\r\n"), Rest(5000)},
       "resuming download from byte 5000",
       {1000},
       {"Range: bytes=5000-"}},
      {"cookie too long to send back",
       {Reply("HTTP/1.0 302 Found\r\nSet-Cookie: id=" + std::string(60000, 'c') +
                  "\r\nLocation: /mirror/corvane-qt.exe",
              ""),
        Ok(kWallet)},
       "Done.",
       {},
       {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PeerScript> scripts = {Ok("MZl")};
    scripts.insert(scripts.end(), c.wallet.begin(), c.wallet.end());
    scripts.push_back(Ok("1.2.3\n"));
    Start(scripts);
    form->NMHTTP1->IdleTimeOut = 1000;
    WriteFile(appDir + "/corvane-qt.exe", "old wallet");
    Press(true, false);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), kWallet);
    EXPECT_THAT(Log(), Contains(c.logged));
    EXPECT_EQ(Log().back(), "Done.");
    EXPECT_EQ(pauses, c.pauses);
    for (size_t i = 0; i < c.ranges.size(); ++i) {
      EXPECT_EQ(Header(2 + i, "Range"), c.ranges[i]) << "connection " << 2 + i;
      EXPECT_LT(Header(2 + i, "If-Range").size(), TNMHTTP::MaxKeptBytes);
      EXPECT_EQ(Header(2 + i, "Cookie"), "");
    }
    EXPECT_TRUE(view().boxes.empty());
    EXPECT_TRUE(errorBoxes.boxes.empty());
    EXPECT_TRUE(Leftovers().empty());
    form.reset();
  }
}

// A 206 to the plain request (a broken cache on the way) is the wallet only when its range covers
// all of it: a part of it is no download, is not tried as one and never replaces the wallet.
TEST_F(BadLink, A206IsTheWholeWalletOnlyWhenItsRangeCoversIt) {
  const std::string half = kWallet.substr(0, 10000);
  const struct Case {
    const char* what;
    PeerScript wallet;
    std::string installed, last;
    size_t boxes;
  } cases[] = {
      {"the first half",
       Reply("HTTP/1.0 206 Partial Content\r\nContent-Length: 10000\r\n"
             "Content-Range: bytes 0-9999/20000",
             half),
       "MZold wallet", "Download failure", 1},
      {"all of it",
       Reply("HTTP/1.0 206 Partial Content\r\n" + kLength +
                 "\r\nContent-Range: bytes 0-19999/20000",
             kWallet),
       kWallet, "Done.", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start({Ok("MZl"), c.wallet, Ok("1.2.3\n")});
    WriteFile(appDir + "/corvane-qt.exe", "MZold wallet");
    Press(true, false);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), c.installed);
    ASSERT_EQ(view().boxes.size(), c.boxes);
    EXPECT_EQ(c.boxes ? view().boxes[0].caption : Log().back(), c.last);
    EXPECT_TRUE(pauses.empty());
    EXPECT_FALSE(Exists(appDir + "/corvane-qt.exe.part.total"));
    EXPECT_TRUE(Leftovers().empty());
    form.reset();
  }
}

// A server that says it will never manage (not implemented, no such HTTP version) is not asked
// again: the step fails at once and the old wallet stays.
TEST_F(BadLink, RepliesThatWillNotHealAreNotTriedAgain) {
  for (const char* status : {"501 Not Implemented", "505 HTTP Version Not Supported"}) {
    SCOPED_TRACE(status);
    Start({Ok("MZl"), Reply(std::string("HTTP/1.0 ") + status + "\r\nContent-Length: 2", "no"),
           Ok(kWallet)});
    WriteFile(appDir + "/corvane-qt.exe", "MZold wallet");
    Press(true, false);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZold wallet");
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].text, "could not download wallet");
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(peer->Connections(), 2u);
    form.reset();
  }
}

// A sign-in page in the way is no program: refused at once, the installed files kept, nothing run.
TEST_F(BadLink, SignInPageIsNotInstalledNorRun) {
  const PeerScript page = Reply("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 21",
                                "<html>sign in</html>\n");
  Start({page});
  WriteFile(appDir + "/cvnloader.exe", "MZold launcher");
  WriteFile(appDir + "/corvane-qt.exe", "MZold wallet");
  WriteFile(appData + "/cvnchain.exe", MarkingArchive());
  Press(true, true);
  for (const char* dest : {"C:\\Corvane\\cvnloader.exe", "C:\\Corvane\\corvane-qt.exe"})
    EXPECT_THAT(
        Log(), Contains(std::string("the server sent something that is not a program for ") + dest +
                        " (a sign-in page may be in the way) - the download was "
                        "discarded"));
  EXPECT_THAT(Log(), ::testing::Not(Contains("Making Shortcut to your Desktop")));
  EXPECT_EQ(ReadFile(appDir + "/cvnloader.exe"), "MZold launcher");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZold wallet");
  EXPECT_EQ(ReadFile(appData + "/cvnchain.exe"), MarkingArchive());
  EXPECT_FALSE(Exists(archiveRan));
  ASSERT_EQ(view().boxes.size(), 2u);
  EXPECT_EQ(view().boxes[0].text, "could not download wallet");
  EXPECT_EQ(view().boxes[1].text, "could not download blockchain");
  EXPECT_EQ(peer->Connections(), 3u);
  EXPECT_TRUE(pauses.empty());
  EXPECT_TRUE(Leftovers().empty());
}

// The window stays live in a pause, and closing it ends the pause and the press at once.
TEST_F(BadLink, ClosingDuringAPauseEndsItAtOnce) {
  Start({Ok("MZl"), Reply("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 60", ""), Ok(kWallet)});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  // The close comes once the pause has begun, however long the tries before it took.
  std::unique_ptr<testsupport::RunLater> close;
  form->Downloads().Pause = [&](int64_t ms) {
    close = std::make_unique<testsupport::RunLater>(std::chrono::milliseconds(0),
                                                    [&] { view().CloseWindow(); });
    return realPause(ms);
  };
  Press(true, false);
  EXPECT_EQ(Log().back(), "the server answered 503 - retrying in 60 s");
  EXPECT_EQ(peer->Connections(), 2u);
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  EXPECT_TRUE(view().boxes.empty());
  EXPECT_TRUE(errorBoxes.boxes.empty());
}

// A part that already holds the whole archive is checked and run, not fetched again.
TEST_F(BadLink, CompletePartIsNotFetchedAgain) {
  const std::string archive = MarkingArchive();
  Start({NotFound()});
  WriteFile(appData + "/cvnchain.exe.part", archive);
  WriteFile(appData + "/cvnchain.exe.part.total", std::to_string(archive.size()) + "\n");
  Press(false, true);
  EXPECT_EQ(peer->Connections(), 0u);
  EXPECT_EQ(ReadFile(appData + "/cvnchain.exe"), archive);
  EXPECT_TRUE(Exists(archiveRan));
  EXPECT_TRUE(Leftovers().empty());
}

} // namespace
} // namespace installtest
