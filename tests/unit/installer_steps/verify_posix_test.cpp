// Installs checked against the publisher's signed list of downloads. The keys and signatures come
// from the openssl command, a Linux tool here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "install_fixture.h"
#include "support/signing.h"

namespace installtest {
namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAreArray;

class VerifiedInstall : public InstallSteps {
protected:
  testsign::Key key = testsign::MakeKey(dir.path(), "publisher");
  std::map<std::string, std::string> files = {{"cvnloader.exe", "MZlauncher"},
                                              {"corvane-qt.exe", "MZnew wallet"},
                                              {"version.txt", "1.2.3\n"},
                                              {"cvnchain.exe", MarkingArchive()}};

  VerifiedInstall() { PublisherKey = key.publicPem; }

  struct SignedList {
    std::string sums, signature;
  };
  // The list and signature the publisher's script makes for these files.
  SignedList Sign(const std::map<std::string, std::string>& offered) {
    const std::string www = dir.file("www");
    std::filesystem::remove_all(www);
    std::filesystem::create_directories(www);
    for (const auto& [name, content] : offered)
      WriteFile(www + "/" + name, content);
    testsign::SignFolder(key, www);
    return {ReadFile(www + "/SHA256SUMS"), ReadFile(www + "/SHA256SUMS.sig")};
  }

  // The server's answers for a program install after the list: launcher, wallet, version file.
  std::vector<PeerScript> ProgramFiles() {
    return {Ok(files["cvnloader.exe"]), Ok(files["corvane-qt.exe"]), Ok(files["version.txt"])};
  }
  std::vector<PeerScript> With(SignedList list, std::vector<PeerScript> rest) {
    rest.insert(rest.begin(), {Ok(list.sums), Ok(list.signature)});
    return rest;
  }
};

TEST_F(VerifiedInstall, GoodSignatureInstallsEverything) {
  Start(With(Sign(files), ProgramFiles()));
  Press(true, false);
  std::vector<std::string> log = {"getting signed file list " + DownloadUrl + "SHA256SUMS",
                                  "file list verified"};
  for (const auto& line : ProgramLog(DownloadUrl))
    log.push_back(line);
  EXPECT_THAT(Log(), ElementsAreArray(log));
  EXPECT_EQ(RequestLine(0), "GET /downloads/SHA256SUMS HTTP/1.0");
  EXPECT_EQ(RequestLine(1), "GET /downloads/SHA256SUMS.sig HTTP/1.0");
  EXPECT_EQ(ReadFile(appDir + "/cvnloader.exe"), "MZlauncher");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZnew wallet");
  EXPECT_EQ(ReadFile(appData + "/Corvane/version.txt"), "1.2.3\n");
  EXPECT_TRUE(view().boxes.empty());
  EXPECT_TRUE(errorBoxes.boxes.empty());
}

TEST_F(VerifiedInstall, ListThatCannotBeTrustedInstallsNothing) {
  const SignedList good = Sign(files);
  const testsign::Key other = testsign::MakeKey(dir.path(), "other");
  struct Case {
    const char* why;
    std::vector<PeerScript> server;
    std::string key;
  } cases[] = {
      {"signed by another key", With(good, ProgramFiles()), other.publicPem},
      {"no list", {NotFound()}, key.publicPem},
      {"no signature", {Ok(good.sums), NotFound()}, key.publicPem},
      {"signature over another list",
       With({good.sums + good.sums.substr(0, 64) + "  extra.exe\n", good.signature},
            ProgramFiles()),
       key.publicPem},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.why);
    PublisherKey = c.key;
    Start(c.server);
    WriteFile(appDir + "/corvane-qt.exe", "old wallet");
    Press(true, true);
    EXPECT_EQ(Log().back(), "could not verify the file list - nothing was installed");
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].text, "could not verify the list of downloads");
    EXPECT_EQ(view().boxes[0].caption, "Verification failure");
    EXPECT_LE(peer->Connections(), 2u);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
    EXPECT_FALSE(Exists(appDir + "/cvnloader.exe"));
    EXPECT_FALSE(Exists(archiveRan));
    form.reset();
  }
}

// A changed byte, or a file the list does not name, is a failed download of that file only.
TEST_F(VerifiedInstall, FileThatDoesNotMatchIsDiscarded) {
  for (const char* how : {"tampered", "unlisted"}) {
    SCOPED_TRACE(how);
    auto listed = files;
    auto served = ProgramFiles();
    if (std::string(how) == "tampered")
      served[1] = Ok("MZnew wallez");
    else
      listed.erase("corvane-qt.exe");
    Start(With(Sign(listed), served));
    WriteFile(appDir + "/corvane-qt.exe", "old wallet");
    Press(true, false);
    EXPECT_THAT(Log(), Contains("could not verify corvane-qt.exe - the download was discarded"));
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
    EXPECT_EQ(ReadFile(appDir + "/cvnloader.exe"), "MZlauncher");
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].text, "could not download wallet");
    EXPECT_TRUE(Leftovers().empty());
    form.reset();
  }
}

TEST_F(VerifiedInstall, VersionFileAndArchiveAreCoveredToo) {
  auto served = ProgramFiles();
  served[2] = Ok("9.9.9\n");
  served.push_back(Ok(files["cvnchain.exe"] + "# appended\n"));
  Start(With(Sign(files), served));
  Press(true, true);
  EXPECT_THAT(Log(), Contains("could not verify version.txt - the download was discarded"));
  EXPECT_THAT(Log(), Contains("could not verify cvnchain.exe - the download was discarded"));
  EXPECT_FALSE(Exists(appData + "/Corvane/version.txt"));
  EXPECT_FALSE(Exists(appData + "/cvnchain.exe"));
  EXPECT_FALSE(Exists(archiveRan));
  ASSERT_EQ(view().boxes.size(), 1u);
  EXPECT_EQ(view().boxes[0].text, "could not download blockchain");
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_FALSE(Exists(appData + "/cvnchain.exe.part.total"));
}

// The list covers the joined archive: a partial file that was changed on disk is never run.
TEST_F(VerifiedInstall, BadJoinIsNeverRun) {
  const std::string archive = files["cvnchain.exe"] + std::string(5000, '#');
  files["cvnchain.exe"] = archive;
  const std::string size = std::to_string(archive.size());
  Start(With(Sign(files), {Reply("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 100-" +
                                     std::to_string(archive.size() - 1) + "/" + size,
                                 archive.substr(100))}));
  WriteFile(appData + "/cvnchain.exe.part", "#!" + std::string(98, 'x'));
  WriteFile(appData + "/cvnchain.exe.part.total", size);
  Press(false, true);
  EXPECT_THAT(Log(), Contains("resuming download from byte 100"));
  EXPECT_EQ(Log().back(), "could not verify cvnchain.exe - the download was discarded");
  EXPECT_FALSE(Exists(archiveRan));
  EXPECT_FALSE(Exists(appData + "/cvnchain.exe"));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(VerifiedInstall, EndlessListIsRefused) {
  Start({PeerScript()
             .ReadUntil("\r\n\r\n")
             .Send("HTTP/1.0 200 OK\r\n\r\n")
             .SendChunked(std::string(3 << 20, 'a'), 64 << 10, std::chrono::milliseconds(0))});
  Press(true, false);
  EXPECT_EQ(Log().back(), "could not verify the file list - nothing was installed");
  EXPECT_TRUE(errorBoxes.boxes.empty());
  EXPECT_EQ(peer->Connections(), 1u);
  EXPECT_LT(form->NMHTTP1->BytesRecvd, 2 << 20);
}

} // namespace
} // namespace installtest
