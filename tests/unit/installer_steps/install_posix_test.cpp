// What the Linux stand-ins let a test arrange: a profile folder that is a file, a full disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "install_fixture.h"
#include "support/lnkinfo.h"

namespace installtest {
namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::ElementsAreArray;

TEST_F(InstallSteps, StartMenuLinkIsMadeWhenTheDesktopCannotBeResolved) {
  std::filesystem::remove_all(desktop);
  std::filesystem::create_directories(std::filesystem::path(desktop).parent_path());
  WriteFile(desktop, "not a folder");
  Start({Ok("MZlauncher"), Ok("MZwallet"), Ok("v")});
  Press(true, false);
  std::vector<std::string> log = ProgramLog(DownloadUrl);
  log.insert(log.begin() + 4,
             "could not make the desktop shortcut - the system names no Desktop folder");
  EXPECT_THAT(Log(), ElementsAreArray(log));
  EXPECT_TRUE(testenv::LnkInfo(startMenuLink));
}

TEST_F(InstallSteps, FullDiskDuringAnUpdateKeepsTheOldFileAndTellsTheUser) {
  Start({Ok("MZl"), Ok("MZnew wallet"), Ok("v")});
  WriteFile(appDir + "/corvane-qt.exe", "old wallet");
  // The temporary file is a link to a full device: every write to it fails.
  std::filesystem::create_symlink("/dev/full", appDir + "/corvane-qt.exe.part");
  Press(true, false);
  EXPECT_EQ(ReadFile(appDir + "/corvane-qt.exe"), "old wallet");
  ASSERT_EQ(errorBoxes.boxes.size(), 1u);
  EXPECT_EQ(errorBoxes.boxes[0].text, "Cannot write file C:\\Corvane\\corvane-qt.exe.");
}

// A full disk while the archive arrives: the box keeps the system's own text, and the log gives
// the system's reason beside it.
TEST_F(InstallSteps, FullDiskDuringTheArchiveLogsTheSystemsReason) {
  Start({Ok("MZchain")});
  std::filesystem::create_symlink("/dev/full", appData + "/cvnchain.exe.part");
  Press(false, true);
  ASSERT_EQ(errorBoxes.boxes.size(), 1u);
  EXPECT_EQ(errorBoxes.boxes[0].text, "Cannot write file C:\\appdata\\cvnchain.exe.");
  EXPECT_EQ(Log().back(), "reason: There is not enough space on the disk. (error 112)");
}

} // namespace
} // namespace installtest
