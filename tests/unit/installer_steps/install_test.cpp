#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "install_fixture.h"
#include "installer/Cvnsetupcmdline.h"
#include "support/lnkinfo.h"

namespace installtest {
namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(InstallSteps, ProgramInstallDownloadsThreeFilesAndMakesBothLinks) {
  Start({Ok("MZlauncher"), Ok("MZwallet"), Ok("1.2.3\n")});
  Press(true, false);

  EXPECT_THAT(Log(), ElementsAreArray(ProgramLog(DownloadUrl)));
  EXPECT_EQ(RequestLine(0), "GET /downloads/cvnloader.exe HTTP/1.0");
  EXPECT_EQ(RequestLine(1), "GET /downloads/corvane-qt.exe HTTP/1.0");
  EXPECT_EQ(RequestLine(2), "GET /downloads//version.txt HTTP/1.0");
  EXPECT_EQ(ReadFile(appDir + "/cvnloader.exe"), "MZlauncher");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZwallet");
  EXPECT_EQ(ReadFile(appData + "/Corvane/version.txt"), "1.2.3\n");
  EXPECT_FALSE(view().progressVisible);
  EXPECT_TRUE(view().boxes.empty());
  EXPECT_TRUE(errorBoxes.boxes.empty());
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(form->NMHTTP1->Body, "C:\\appdata/Corvane/version.txt");
  EXPECT_TRUE(form->NMHTTP1->InputFileMode);

  for (const std::string& link : {desktopLink, startMenuLink}) {
    auto info = testenv::LnkInfo(link);
    ASSERT_TRUE(info) << link;
    EXPECT_EQ((*info)["Local path"], "C:\\Corvane\\cvnloader.exe");
    EXPECT_EQ((*info)["Description"], "cvn QT Wallet");
    EXPECT_EQ(testenv::LnkShowCommand(link), 5u);
  }
}

TEST_F(InstallSteps, SecondInstallSavesTheLinksAgainInTheSameFolder) {
  Start({Ok("MZlauncher 1"), Ok("MZw"), Ok("v"), Ok("MZlauncher 2"), Ok("MZw"), Ok("v")});
  Press(true, false);
  Press(true, false);
  EXPECT_EQ(ReadFile(appDir + "/cvnloader.exe"), "MZlauncher 2");
  EXPECT_EQ(Log().size(), 2 * ProgramLog(DownloadUrl).size());
  EXPECT_TRUE(testenv::LnkInfo(desktopLink));
  EXPECT_TRUE(testenv::LnkInfo(startMenuLink));
  EXPECT_TRUE(errorBoxes.boxes.empty());
}

TEST_F(InstallSteps, BlockchainInstallDownloadsAndRunsTheArchive) {
  Start({Ok(MarkingArchive())});
  Press(false, true);
  EXPECT_THAT(Log(), ElementsAreArray(BlockchainLog(DownloadUrl)));
  EXPECT_EQ(RequestLine(0), "GET /downloads/cvnchain.exe HTTP/1.0");
  // Run where it was saved, without arguments, and awaited: the note is there when the press
  // returns.
  EXPECT_EQ(ReadFile(archiveRan), "0\n");
  EXPECT_TRUE(Exists(appData + "/cvnchain.exe"));
  EXPECT_FALSE(view().progressVisible);
  EXPECT_TRUE(view().boxes.empty());
}

TEST_F(InstallSteps, BothBoxesRunTheProgramInstallFirst) {
  Start({Ok("MZl"), Ok("MZw"), Ok("v"), Ok(MarkingArchive())});
  Press(true, true);
  EXPECT_THAT(Log(), ElementsAreArray(Concat(ProgramLog(DownloadUrl), BlockchainLog(DownloadUrl))));
  EXPECT_TRUE(Exists(archiveRan));
}

TEST_F(InstallSteps, NoSelectionOnlyAsksForOne) {
  Start({NotFound()});
  Press(false, false);
  EXPECT_THAT(Log(), ElementsAre("please make a slection."));
  EXPECT_EQ(peer->Connections(), 0u);
}

TEST_F(InstallSteps, LauncherNotFoundSkipsTheLinksButNotTheWallet) {
  Start({NotFound(), Ok("MZwallet"), Ok("v")});
  Press(true, false);
  EXPECT_THAT(Log(),
              ElementsAre("install program is checked", "Downloading Launcher",
                          "Downloading : " + DownloadUrl + "cvnloader.exe", "HTTP GET Failed",
                          "Downloading cvn Wallet", "app download is C:\\Corvane\\corvane-qt.exe",
                          "Downloading : version.txt",
                          "getting version info file " + DownloadUrl + "/version.txt", "Done."));
  EXPECT_FALSE(Exists(appDir + "/cvnloader.exe"));
  EXPECT_FALSE(Exists(desktopLink));
  EXPECT_FALSE(Exists(startMenuLink));
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZwallet");
}

TEST_F(InstallSteps, WalletNotFoundKeepsTheOldWalletAndShowsOneBox) {
  Start({Ok("MZl"), NotFound(), Ok("v")});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  Press(true, false);
  auto log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "app download is C:\\Corvane\\corvane-qt.exe");
  EXPECT_EQ(log.back(), "HTTP GET Failed");
  EXPECT_EQ(peer->Connections(), 2u);
  EXPECT_FALSE(view().progressVisible);
  ASSERT_EQ(view().boxes.size(), 1u);
  EXPECT_EQ(view().boxes[0].text, "could not download wallet");
  EXPECT_EQ(view().boxes[0].caption, "Download failure");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(InstallSteps, VersionFailureStillEndsWithDone) {
  Start({Ok("MZl"), Ok("MZw"), NotFound()});
  Press(true, false);
  auto log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "HTTP GET Failed");
  EXPECT_EQ(log.back(), "Done.");
  EXPECT_FALSE(view().progressVisible);
  EXPECT_TRUE(view().boxes.empty());
  EXPECT_FALSE(Exists(appData + "/Corvane/version.txt"));
}

TEST_F(InstallSteps, BlockchainNotFoundShowsOneBoxAndRunsNothing) {
  Start({NotFound()});
  WriteFile(appData + "/cvnchain.exe", MarkingArchive());
  Press(false, true);
  EXPECT_EQ(Log().back(), "HTTP GET Failed");
  ASSERT_EQ(view().boxes.size(), 1u);
  EXPECT_EQ(view().boxes[0].text, "could not download blockchain");
  EXPECT_EQ(view().boxes[0].caption, "Download failure");
  EXPECT_FALSE(Exists(archiveRan));
  EXPECT_EQ(ReadFile(appData + "/cvnchain.exe"), MarkingArchive());
  EXPECT_FALSE(view().progressVisible);
}

// An archive that fails says its exit code before "Done."; one that cannot start is told with a
// line and a box, and no "Done." follows.
TEST_F(InstallSteps, ArchiveOutcomeIsTold) {
  for (const std::string& archive : {MarkingArchive(3), testenv::UnstartableProgram()}) {
    Start({Ok(archive)});
    Press(false, true);
    const bool starts = archive == MarkingArchive(3);
    std::vector<std::string> expected{"unzipping blockchain - this will take a while..."};
    if (starts)
      expected.insert(expected.end(), {"the blockchain archive ended with exit code 3", "Done."});
    else
      expected.push_back("could not start " + ArchiveDest());
    auto log = Log();
    // Why it could not start, in the system's words.
    if (!starts && !log.empty() && log.back().rfind("reason: ", 0) == 0)
      log.pop_back();
    else if (!starts)
      ADD_FAILURE() << "no reason after: " << log.back();
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<long>(expected.size()), log.end()),
              expected);
    ASSERT_EQ(view().boxes.size(), starts ? 0u : 1u);
    if (!starts) {
      EXPECT_EQ(view().boxes[0].text, "could not start the blockchain archive");
      EXPECT_EQ(view().boxes[0].caption, "Blockchain failure");
    }
    form.reset();
  }
}

TEST_F(InstallSteps, MissingAppDirEndsThePressWithTheDestinationInTheErrorBox) {
  Start({Ok("MZl"), Ok("MZw"), Ok("v"), Ok(MarkingArchive())});
  std::filesystem::remove_all(appDir);
  Press(true, true);
  EXPECT_EQ(Log().back(), "Downloading : " + DownloadUrl + "cvnloader.exe");
  ASSERT_EQ(errorBoxes.boxes.size(), 1u);
  EXPECT_EQ(errorBoxes.boxes[0].text, "Cannot create file C:\\Corvane\\cvnloader.exe.");
  EXPECT_EQ(errorBoxes.boxes[0].caption, "Corvane Setup");
  EXPECT_TRUE(view().progressVisible);
  EXPECT_FALSE(Exists(archiveRan));
  EXPECT_TRUE(Leftovers().empty());
}

// Every try brings the same first bytes again: once two minutes of pauses brought no new byte the
// step fails as it always did, the old wallet in place and the part kept for the next press.
TEST_F(InstallSteps, WalletResetEveryTimeKeepsTheOldWalletAndThePart) {
  const std::string first = "MZ" + std::string(4998, 'x');
  Start({Ok("MZl"), PeerScript()
                        .ReadUntil("\r\n\r\n")
                        .Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + first)
                        .Pause(std::chrono::milliseconds(100))
                        .Reset()});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  Press(true, false);
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe.part"), first);
  EXPECT_EQ(peer->Connections(), 10u);
  EXPECT_THAT(pauses, ElementsAre(1000, 1000, 2000, 4000, 8000, 16000, 32000, 60000));
  // A reset is an error that ends the press; a plain close is a failed download.
  SKIP_ON_WINE("a reset by the peer arrives as an ordinary close");
  EXPECT_EQ(errorBoxes.boxes.size(), 1u);
  EXPECT_THAT(Log(), Contains("connection lost at byte 5000 - retrying in 60 s"));
}

TEST_F(InstallSteps, ProgressFollowsTheByteCounters) {
  // The archive is a program that ignores what follows it; 2 MB exceed the Windows one.
  std::string archive = MarkingArchive();
  ASSERT_LT(archive.size(), 2000000u);
  archive.resize(2000000, '#');
  Start({Ok(archive), Reply("HTTP/1.0 200 OK", archive)});
  Press(false, true);
  EXPECT_EQ(view().progressMax, 2000000);
  EXPECT_EQ(view().progressPosition, 2000000);

  // Without a Content-Length the maximum is 0 and the position runs past it.
  Press(false, true);
  EXPECT_EQ(view().progressMax, 0);
  EXPECT_EQ(view().progressPosition, 2000000);
  EXPECT_TRUE(errorBoxes.boxes.empty());
}

TEST_F(InstallSteps, FailureHandlerLogsTheCommandAndClearsTheFlag) {
  Start({NotFound()});
  const std::pair<int, const char*> named[] = {{0, "HTTP GET Failed"},   {1, "HTTP OPTIONS Failed"},
                                               {2, "HTTP HEAD Failed"},  {3, "HTTP Post Failed"},
                                               {4, "HTTP PUT Failed"},   {8, "HTTP Delete Failed"},
                                               {11, "HTTP TRACE Failed"}};
  for (auto [code, line] : named) {
    DownloadOk = true;
    form->NMHTTP1Failure(static_cast<CmdType>(code));
    EXPECT_FALSE(DownloadOk);
    EXPECT_EQ(Log().back(), line);
  }
  const size_t lines = Log().size();
  for (int code : {5, 6, 7, 9, 10, 12, 200}) {
    DownloadOk = true;
    form->NMHTTP1Failure(static_cast<CmdType>(code));
    EXPECT_FALSE(DownloadOk);
  }
  form->NMHTTP1Success(CmdGet);
  EXPECT_TRUE(DownloadOk);
  EXPECT_EQ(Log().size(), lines);
}

TEST_F(InstallSteps, NMHTTP1StartsWithItsStoredValues) {
  Start({NotFound()});
  EXPECT_EQ(form->NMHTTP1->Port, 0);
  EXPECT_EQ(form->NMHTTP1->ReportLevel, 0);
  EXPECT_EQ(form->NMHTTP1->Body, "Default.htm");
  EXPECT_EQ(form->NMHTTP1->Header, "Head.txt");
  EXPECT_FALSE(form->NMHTTP1->InputFileMode);
  EXPECT_FALSE(form->NMHTTP1->OutputFileMode);
  EXPECT_EQ(form->NMHTTP1->ProxyPort, 0);
}

// A wallet that arrives slowly, so that the user can act while it downloads.
PeerScript SlowWallet() {
  return PeerScript()
      .ReadUntil("\r\n\r\n")
      .Send("HTTP/1.0 200 OK\r\nContent-Length: 40000\r\n\r\n")
      .SendChunked("MZ" + std::string(39998, 'n'), 1000, std::chrono::milliseconds(20))
      .Close();
}

TEST_F(InstallSteps, SecondPressDuringAnInstallDoesNothing) {
  Start({Ok("MZl"), SlowWallet(), Ok("v")});
  bool pressed = false;
  auto progress = form->NMHTTP1->OnPacketRecvd;
  form->NMHTTP1->OnPacketRecvd = [&](TObject* sender) {
    progress(sender);
    if (!pressed && form->NMHTTP1->BytesRecvd > 0 && form->NMHTTP1->BytesTotal == 40000) {
      pressed = true;
      view().ClickButton1();
    }
  };
  Press(true, false);
  ASSERT_TRUE(pressed);
  EXPECT_THAT(Log(), ElementsAreArray(ProgramLog(DownloadUrl)));
  EXPECT_TRUE(errorBoxes.boxes.empty());
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZ" + std::string(39998, 'n'));
}

TEST_F(InstallSteps, ClosingDuringADownloadAbortsItQuietly) {
  Start({Ok("MZl"), SlowWallet(), Ok("v"), Ok(MarkingArchive())});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  bool closed = false;
  auto progress = form->NMHTTP1->OnPacketRecvd;
  form->NMHTTP1->OnPacketRecvd = [&](TObject* sender) {
    progress(sender);
    if (!closed && form->NMHTTP1->BytesTotal == 40000) {
      closed = true;
      view().CloseWindow();
    }
  };
  Press(true, true);
  ASSERT_TRUE(closed);
  EXPECT_EQ(Log().back(), "app download is C:\\Corvane\\corvane-qt.exe");
  EXPECT_TRUE(view().boxes.empty());
  EXPECT_TRUE(errorBoxes.boxes.empty());
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  // What arrived stays for the next press to continue.
  EXPECT_THAT(Leftovers(), ElementsAre(appDir + "/corvane-qt.exe.part"));
  EXPECT_FALSE(Exists(archiveRan));
  EXPECT_EQ(peer->Connections(), 2u);
}

TEST_F(InstallSteps, ForeignExceptionDuringADownloadLeavesNoPartialFile) {
  Start({Ok("MZl"), SlowWallet(), Ok("v")});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  auto progress = form->NMHTTP1->OnPacketRecvd;
  form->NMHTTP1->OnPacketRecvd = [&](TObject* sender) {
    progress(sender);
    if (form->NMHTTP1->BytesTotal == 40000) throw std::runtime_error("not a framework error");
  };
  Press(true, false);
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(Log().back(), "app download is C:\\Corvane\\corvane-qt.exe");
  // Shown as an exception without a message.
  ASSERT_EQ(errorBoxes.boxes.size(), 1u);
  EXPECT_EQ(errorBoxes.boxes[0].text, "");
}

// The wallet runs while it is updated: the finished download is kept, the user is told what holds
// the file and may close it and go on; the next press installs the part without fetching it.
TEST_F(InstallSteps, AWalletInUseKeepsItsDownloadAndIsReplacedOnceClosed) {
  Start({Ok("MZl"), Ok("MZnew wallet"), Ok("MZl"), Ok("v"), Ok("MZl"), Ok("MZnewer"), Ok("v")});
  const std::string wallet = appDir + "/corvane-qt.exe";
  auto running = std::make_unique<testenv::RunningProgram>(wallet);
  const std::string before = ReadFile(wallet);
  ResetSetupOutcome();
  Press(true, false);
  EXPECT_EQ(ReadFile(wallet), before);
  EXPECT_EQ(ReadFile(wallet + ".part"), "MZnew wallet");
  ASSERT_EQ(view().boxes.size(), 1u);
  EXPECT_EQ(view().boxes[0].caption, "Program in use");
  EXPECT_THAT(Log(), Contains("C:\\Corvane\\corvane-qt.exe was not replaced; the next try installs "
                              "the download without fetching it again"));
  EXPECT_EQ(SetupOutcome(), ExitWalletRunning);

  running.reset();
  Press(true, false);
  EXPECT_EQ(ReadFile(wallet), "MZnew wallet");
  EXPECT_EQ(RequestLine(3), "GET /downloads//version.txt HTTP/1.0")
      << "the wallet was fetched again";
  EXPECT_TRUE(Leftovers().empty());

  // Asked, the user closes it and clicks OK: the same press replaces it.
  running = std::make_unique<testenv::RunningProgram>(wallet);
  view().boxes.clear();
  view().duringMessageBox = [&] { running.reset(); };
  Press(true, false);
  EXPECT_EQ(ReadFile(wallet), "MZnewer");
  ASSERT_EQ(view().boxes.size(), 1u);
  const std::string named = view().boxes[0].text;
  EXPECT_EQ(named.rfind("C:\\Corvane\\corvane-qt.exe is in use by ", 0), 0u) << named;
  SKIP_ON_WINE("the Restart Manager names no program that holds a file");
  EXPECT_EQ(named.find("another program"), std::string::npos) << named;
}

TEST_F(InstallSteps, ThePressInstallsWhatWasTickedWhenNextWasPressed) {
  Start({Ok("MZl"), Ok("MZw"), Ok("v")});
  bool enabledDuring = true;
  form->NMHTTP1->OnPacketRecvd = [&](TObject*) {
    enabledDuring = enabledDuring && view().choicesEnabled;
    view().checkBox1 = false;
    view().checkBox2 = true;
  };
  Press(true, false);
  EXPECT_FALSE(enabledDuring);
  EXPECT_TRUE(view().choicesEnabled);
  EXPECT_THAT(Log(), ElementsAreArray(ProgramLog(DownloadUrl)));
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZw");
}

// An unattended install gives the archive the build's arguments for a quiet run; a press of Next
// gives it none (the archive asks the user then).
TEST_F(InstallSteps, OnlyAnUnattendedRunGivesTheArchiveItsQuietArguments) {
  const std::string saved = std::exchange(ArchiveSilentArgs, "/S /NOQUESTION");
  for (const bool asks : {true, false}) {
    Start({Ok(MarkingArchive())});
    form->AsksUser = asks;
    Press(false, true);
    EXPECT_EQ(ReadFile(archiveRan), asks ? "0\n" : "2\n") << asks;
    form.reset();
  }
  ArchiveSilentArgs = saved;
}

// No network or no such host: the press ends with the component's own "Null Remote Address", and
// the log says why in the system's words.
TEST_F(InstallSteps, AFailedLookupLogsTheSystemsReason) {
  Start({});
  DownloadUrl = "http://corvane-no-such-host.invalid/downloads/";
  Press(true, false);
  ASSERT_FALSE(errorBoxes.boxes.empty());
  EXPECT_EQ(errorBoxes.boxes[0].text, "Null Remote Address.");
  EXPECT_THAT(Log(), Contains(::testing::AllOf(::testing::StartsWith("reason: "),
                                               ::testing::EndsWith("(error 11001)"))));
}

// Controlled Folder Access, say, blocks the desktop link: the log says so and the install goes on.
TEST_F(InstallSteps, AShortcutThatCannotBeSavedIsLoggedAndTheInstallGoesOn) {
  std::filesystem::create_directories(desktopLink); // a folder where the link would go
  Start({Ok("MZl"), Ok("MZw"), Ok("v")});
  Press(true, false);
  const auto log = Log();
  EXPECT_THAT(log, Contains(::testing::AllOf(::testing::StartsWith("could not make the shortcut "),
                                             ::testing::HasSubstr("Corvane.lnk - reason: "))));
  EXPECT_EQ(log.back(), "Done.");
  EXPECT_TRUE(testenv::LnkInfo(startMenuLink));
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "MZw");
}

TEST_F(InstallSteps, ProgressBeyondThirtyTwoBitsScalesMaximumAndPositionAlike) {
  Start({Ok("")});
  struct Case {
    int64_t total, received;
    int max, position;
  };
  const int64_t GiB = int64_t{1} << 30;
  for (const Case& c :
       {Case{INT32_MAX, 1000, INT32_MAX, 1000},
        Case{5 * GiB, 3 * GiB, static_cast<int>(5 * GiB / 4), static_cast<int>(3 * GiB / 4)},
        Case{5 * GiB, 5 * GiB, static_cast<int>(5 * GiB / 4), static_cast<int>(5 * GiB / 4)}}) {
    form->NMHTTP1->BytesTotal = c.total;
    form->NMHTTP1->BytesRecvd = c.received;
    form->NMHTTP1PacketRecvd2(nullptr);
    EXPECT_EQ(view().progressMax, c.max) << c.total;
    EXPECT_EQ(view().progressPosition, c.position) << c.received;
  }
}

} // namespace
} // namespace installtest
