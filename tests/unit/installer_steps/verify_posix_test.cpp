// Installs checked against the publisher's signed list of downloads. The keys and signatures come
// from the openssl command, a Linux tool here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "install_fixture.h"
#include "support/run_later.h"
#include "support/signing.h"

namespace installtest {
namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::Not;

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
  SignedList Sign(const std::map<std::string, std::string>& offered,
                  const std::string& options = "") {
    const std::string www = dir.file("www");
    std::filesystem::remove_all(www);
    std::filesystem::create_directories(www);
    for (const auto& [name, content] : offered)
      WriteFile(www + "/" + name, content);
    testsign::SignFolder(key, www, options);
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
    const bool tampered = std::string(how) == "tampered";
    if (tampered)
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
    // A file the list does not name is not asked for (the launcher is up to date by then).
    EXPECT_EQ(peer->Connections(), tampered ? 4u : 2u);
    form.reset();
  }
}

TEST_F(VerifiedInstall, VersionFileAndArchiveAreCoveredToo) {
  auto served = ProgramFiles();
  served[2] = Ok("9.9.9\n");
  std::string archive = files["cvnchain.exe"];
  archive.back() ^= 1;
  served.push_back(Ok(archive));
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

// A part kept from a download of another size than the listed one is not continued.
TEST_F(VerifiedInstall, PartOfAnotherSizeStartsOver) {
  const std::string archive = files["cvnchain.exe"];
  Start(With(Sign(files), {Ok(archive)}));
  WriteFile(appData + "/cvnchain.exe.part", std::string(100, 'x'));
  WriteFile(appData + "/cvnchain.exe.part.total", std::to_string(archive.size() + 1));
  Press(false, true);
  EXPECT_THAT(Log(), Not(Contains("resuming download from byte 100")));
  EXPECT_EQ(peer->Received(2).find("Range:"), std::string::npos);
  EXPECT_EQ(ReadFile(appData + "/cvnchain.exe"), archive);
  EXPECT_TRUE(Exists(archiveRan));
}

// The list and its signature are tried again after a cut and continued from what arrived, as the
// files are.
TEST_F(VerifiedInstall, ListOrSignatureCutOnTheWayIsContinued) {
  const SignedList list = Sign(files);
  auto cut = [](const std::string& body, size_t at) {
    return PeerScript()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\nETag: \"l1\"\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n" + body.substr(0, at))
        .Close();
  };
  auto rest = [](const std::string& body, size_t at) {
    return Reply(
        "HTTP/1.0 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - at) +
            "\r\nContent-Range: bytes " + std::to_string(at) + "-" +
            std::to_string(body.size() - 1) + "/" + std::to_string(body.size()),
        body.substr(at));
  };
  const size_t sumsCut = list.sums.size() / 2, signatureCut = list.signature.size() / 2;
  const struct Case {
    const char* what;
    std::vector<PeerScript> served;
    size_t cutAt, resumedConnection;
  } cases[] = {
      {"list", {cut(list.sums, sumsCut), rest(list.sums, sumsCut), Ok(list.signature)}, sumsCut, 1},
      {"signature",
       {Ok(list.sums), cut(list.signature, signatureCut), rest(list.signature, signatureCut)},
       signatureCut,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PeerScript> served = c.served;
    for (const PeerScript& file : ProgramFiles())
      served.push_back(file);
    Start(served);
    Press(true, false);
    EXPECT_THAT(Log(), Contains("connection lost at byte " + std::to_string(c.cutAt) +
                                " - retrying in 1 s"));
    EXPECT_THAT(Log(), Contains("file list verified"));
    EXPECT_EQ(pauses, std::vector<int64_t>{1000});
    const std::string resumed = peer->Received(c.resumedConnection);
    EXPECT_NE(resumed.find("\r\nRange: bytes=" + std::to_string(c.cutAt) + "-\r\n"),
              std::string::npos);
    EXPECT_NE(resumed.find("\r\nIf-Range: \"l1\"\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZnew wallet");
    EXPECT_TRUE(view().boxes.empty());
    form.reset();
  }
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

// The newest serial accepted is kept: a replayed older list is refused, the same one is not.
// A list past its expiry, or older than the build itself, is refused with the reason.
TEST_F(VerifiedInstall, OlderAndExpiredListsAreRefused) {
  Start(With(Sign(files, "--serial 10"), ProgramFiles()));
  Press(true, false);
  ASSERT_EQ(ReadFile(appData + "/Corvane Setup/list-serial.txt"), "10\n");
  form.reset();
  struct Case {
    const char* why;
    std::string options;
    int64_t lowest;
    const char* reason;
  } cases[] = {
      {"replayed", "--serial 9", 0, "the file list is older than the installed release"},
      {"expired", "--serial 11 --expires 2020-01-01T00:00:00Z", 0, "the file list has expired"},
      {"older than the build", "--serial 10", 11,
       "the file list is older than the installed release"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    LowestListSerial = c.lowest;
    auto served = ProgramFiles();
    served[1] = Ok("old wallet");
    Start(With(Sign({{"corvane-qt.exe", "old wallet"}}, c.options), served));
    Press(true, false);
    const std::vector<std::string> log = {"getting signed file list " + DownloadUrl + "SHA256SUMS",
                                          c.reason,
                                          "could not verify the file list - nothing was installed"};
    EXPECT_THAT(Log(), ElementsAreArray(log));
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].caption, "Verification failure");
    EXPECT_EQ(peer->Connections(), 2u);
    EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZnew wallet");
    EXPECT_EQ(ReadFile(appData + "/Corvane Setup/list-serial.txt"), "10\n");
    form.reset();
  }
  LowestListSerial = 0;
  Start(With(Sign(files, "--serial 10"), ProgramFiles()));
  Press(true, false);
  EXPECT_THAT(Log(), Contains("file list verified"));
}

// Installed files that are the listed ones are not fetched again; the steps go on as after a
// download.
TEST_F(VerifiedInstall, InstalledFilesAreNotFetchedAgain) {
  const SignedList list = Sign(files);
  Start(With(list, ProgramFiles()));
  Press(true, false);
  form.reset();
  RemoveLinks();
  WriteFile(appDir + "/corvane-qt.exe", "MZnew wallex"); // same size, other bytes
  Start(With(list, {Ok(files["corvane-qt.exe"])}));
  Press(true, false);
  const std::vector<std::string> log = {"getting signed file list " + DownloadUrl + "SHA256SUMS",
                                        "file list verified",
                                        "install program is checked",
                                        "Downloading Launcher",
                                        "Downloading : " + DownloadUrl + "cvnloader.exe",
                                        "cvnloader.exe is up to date",
                                        "Making Shortcut to your Desktop",
                                        "Making Shortcut to your Start menu",
                                        "Downloading cvn Wallet",
                                        "app download is C:\\Corvane\\corvane-qt.exe",
                                        "Downloading : version.txt",
                                        "getting version info file " + DownloadUrl + "/version.txt",
                                        "version.txt is up to date",
                                        "Done."};
  EXPECT_THAT(Log(), ElementsAreArray(log));
  EXPECT_EQ(peer->Connections(), 3u);
  EXPECT_EQ(RequestLine(2), "GET /downloads/corvane-qt.exe HTTP/1.0");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZnew wallet");
  EXPECT_TRUE(Exists(desktopLink));
  EXPECT_TRUE(Exists(startMenuLink));
}

// A whole part an earlier press left is hashed off the window's thread: the window answers
// meanwhile, and a close ends the press there without replacing the installed wallet.
TEST_F(VerifiedInstall, CloseWhileAKeptPartIsHashedEndsThePress) {
  files["corvane-qt.exe"] = "MZ" + std::string(size_t{96} << 20, 'w');
  const SignedList list = Sign(files);
  files["corvane-qt.exe"].clear();
  Start(With(list, {Ok(files["cvnloader.exe"])}));
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  std::filesystem::rename(dir.file("www") + "/corvane-qt.exe", appDir + "/corvane-qt.exe.part");
  WriteFile(appDir + "/corvane-qt.exe.part.total", std::to_string((96 << 20) + 2) + "\n\n");
  bool closed = false;
  std::unique_ptr<testsupport::RunLater> closeLater;
  auto success = form->NMHTTP1->OnSuccess;
  form->NMHTTP1->OnSuccess = [&](CmdType cmd) {
    if (success) success(cmd);
    // The wallet's kept part: closed as soon as the window's thread takes a message.
    if (form->Downloads().Reused() && !closeLater)
      closeLater = std::make_unique<testsupport::RunLater>(std::chrono::milliseconds(1), [&] {
        closed = true;
        view().CloseWindow();
      });
  };
  Press(true, false);
  EXPECT_TRUE(closed);
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  EXPECT_THAT(Log(), Not(Contains("Done.")));
}

} // namespace
} // namespace installtest
