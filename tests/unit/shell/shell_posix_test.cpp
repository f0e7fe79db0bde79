// The Linux stand-in's shell: special folders in the Wine-style prefix, targets outside it, and
// the UTF-8 text of the link writer.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "shell_fixture.h"
#include "support/lnkinfo.h"
#include "support/testenv.h"

using shelltest::SaveLink;

namespace {
std::string User() {
  return getpwuid(getuid())->pw_name;
}

std::string FolderPath(int csidl) {
  win::LPITEMIDLIST pidl = nullptr;
  win::IMalloc* malloc = nullptr;
  EXPECT_EQ(win::SHGetMalloc(&malloc), S_OK);
  if (FAILED(win::SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) return "<failed>";
  char buf[platform::ShellPathBytes];
  std::string path = win::SHGetPathFromIDListA(pidl, buf) ? buf : "<no path>";
  malloc->Free(pidl);
  malloc->Release();
  return path;
}

class Shell : public ::testing::Test {
protected:
  testenv::TempDir prefix;
  testenv::ScopedEnv env{"WINEPREFIX", prefix.path()};
  std::string profile = prefix.path() + "/drive_c/users/" + User();
};

} // namespace

TEST_F(Shell, SpecialFoldersAreTheProfileFoldersOfTheWinePrefix) {
  EXPECT_EQ(FolderPath(CSIDL_DESKTOPDIRECTORY), "C:\\users\\" + User() + "\\Desktop");
  EXPECT_EQ(FolderPath(CSIDL_PROGRAMS),
            "C:\\users\\" + User() +
                "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_TRUE(std::filesystem::is_directory(profile + "/Desktop"));
  EXPECT_TRUE(std::filesystem::is_directory(
      profile + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"));
  EXPECT_EQ(FolderPath(0x1234), "<failed>");
}

TEST_F(Shell, UnresolvableFolderFails) {
  std::filesystem::create_directories(profile);
  testenv::WriteFile(profile + "/Desktop", "a file where the folder should be");
  EXPECT_EQ(FolderPath(CSIDL_DESKTOPDIRECTORY), "<failed>");
  EXPECT_NE(FolderPath(CSIDL_PROGRAMS), "<failed>");
}

TEST_F(Shell, LinkDescribesAnExistingTargetAndTakesBackslashNames) {
  std::filesystem::create_directories(prefix.path() + "/drive_c/Corvane");
  testenv::WriteFile(prefix.path() + "/drive_c/Corvane/cvnloader.exe", std::string(1234, 'x'));
  const std::string programs = FolderPath(CSIDL_PROGRAMS);
  std::filesystem::create_directories(
      profile + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Corvane");
  ASSERT_EQ(SaveLink(programs + "\\Corvane\\Corvane.lnk", "C:/Corvane/cvnloader.exe"), S_OK);
  auto info = testenv::LnkInfo(
      profile + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Corvane/Corvane.lnk");
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["Local path"], "C:\\Corvane\\cvnloader.exe");
  EXPECT_EQ((*info)["File size"], "1234 bytes");
  EXPECT_NE((*info)["Modification time"].find("UTC"), std::string::npos)
      << (*info)["Modification time"];
}

TEST_F(Shell, NativeTargetIsReachedThroughDriveZ) {
  ASSERT_EQ(SaveLink(prefix.file("n.lnk"), "/opt/corvane/cvnloader.exe", "d\xc3\xa9j\xe0"), S_OK);
  auto info = testenv::LnkInfo(prefix.file("n.lnk"));
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["Local path"], "Z:\\opt\\corvane\\cvnloader.exe");
  // Valid UTF-8 is taken as such, a stray byte as Latin-1.
  EXPECT_EQ((*info)["Description"], "d\xc3\xa9j\xc3\xa0");
}

TEST(AnsiToOle, DecodesUtf8AndTakesStrayBytesAsLatin1) {
  EXPECT_EQ(platform::AnsiToOle("C:\\a"), u"C:\\a");
  EXPECT_EQ(platform::AnsiToOle("\xe2\x82\xac \xf0\x9f\x98\x80"), u"\u20ac \U0001F600");
  EXPECT_EQ(platform::AnsiToOle("\xe9t\xe9"), u"\u00e9t\u00e9");
  EXPECT_EQ(platform::AnsiToOle("\xc0\xaf"), u"\u00c0\u00af"); // overlong form
  EXPECT_EQ(platform::AnsiToOle(""), u"");
}
