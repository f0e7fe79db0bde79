#include <gtest/gtest.h>

#include "startup_fixture.h"

TEST(Settings, FixedValuesAndTheNamesOnAppDir) {
  EXPECT_EQ(Ticker, "cvn");
  EXPECT_EQ(IniPath, "Corvane");
  EXPECT_EQ(WalletExe, "corvane-qt.exe");
  EXPECT_EQ(AppDir, "C:\\Corvane\\");
  EXPECT_EQ(LauncherExe(), "cvnloader.exe");
  EXPECT_EQ(LauncherDest(), "C:\\Corvane\\cvnloader.exe");
  EXPECT_EQ(WalletDest(), "C:\\Corvane\\corvane-qt.exe");
  EXPECT_EQ(ChainExe(), "cvnchain.exe");
}

TEST(Settings, UrlsAreTheBaseAndAFileNameExceptTheVersionFile) {
  ASSERT_FALSE(DownloadUrl.empty());
  EXPECT_EQ(DownloadUrl.back(), '/');
  EXPECT_EQ(DownloadUrl.rfind("http://", 0), 0u);
  EXPECT_EQ(LauncherUrl(), DownloadUrl + "cvnloader.exe");
  EXPECT_EQ(WalletUrl(), DownloadUrl + "corvane-qt.exe");
  EXPECT_EQ(ArchiveUrl(), DownloadUrl + "cvnchain.exe");
  // The base already ends with a slash: the version file's URL has two of them.
  EXPECT_EQ(VersionUrl(), DownloadUrl + "/version.txt");
  EXPECT_NE(VersionUrl().find("//version.txt"), std::string::npos);
}

TEST_F(StartUpTest, DataPathNamesJoinWithoutTouchingSeparators) {
  struct Case {
    std::string appData, chainDir, versionFile, archive;
  };
  const Case cases[] = {
      {"C:\\Users\\Ann\\AppData\\Roaming", "C:\\Users\\Ann\\AppData\\Roaming\\Corvane\\",
       "C:\\Users\\Ann\\AppData\\Roaming/Corvane/version.txt",
       "C:\\Users\\Ann\\AppData\\Roaming\\cvnchain.exe"},
      {"C:\\Data\\", "C:\\Data\\\\Corvane\\", "C:\\Data\\/Corvane/version.txt",
       "C:\\Data\\\\cvnchain.exe"},
      // Empty: each name starts with its first separator, under the root of drive C:.
      {"", "\\Corvane\\", "/Corvane/version.txt", "\\cvnchain.exe"},
  };
  MakeDir(drive_.path() + "/Users/Ann/AppData/Roaming");
  MakeDir(drive_.path() + "/Data");
  for (const Case& c : cases) {
    testenv::ScopedEnv env("APPDATA", c.appData);
    TForm1 form(nullptr); // reads APPDATA
    SCOPED_TRACE(c.appData);
    EXPECT_EQ(DataPath, c.appData);
    EXPECT_EQ(ChainDir(), c.chainDir);
    EXPECT_EQ(VersionFile(), c.versionFile);
    EXPECT_EQ(ArchiveDest(), c.archive);
    EXPECT_EQ(views_.Last().LogLines()[2], "datapath is " + c.appData);
    EXPECT_EQ(views_.Last().LogLines()[3], "looking for file " + c.chainDir);
  }
}
