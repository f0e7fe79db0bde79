#include "platform/shell.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "support/lnkinfo.h"
#include "support/testenv.h"

namespace {

std::string User() {
  return getpwuid(getuid())->pw_name;
}

// A link made the way the shortcut maker makes it; returns Save's result.
win::HRESULT SaveLink(const std::string& name, const std::string& target,
                      const char* description = "cvn QT Wallet") {
  win::HRESULT hr = win::CoInitialize(nullptr);
  if (FAILED(hr)) return hr;
  win::IShellLinkA* link = nullptr;
  hr = win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                             win::IID_IShellLinkA, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(hr)) {
    link->SetPath(target.c_str());
    link->SetDescription(description);
    link->SetShowCmd(SW_SHOW);
    win::IPersistFile* file = nullptr;
    hr = link->QueryInterface(win::IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
      hr = file->Save(platform::AnsiToOle(name).c_str(), TRUE);
      file->Release();
    }
    link->Release();
  }
  win::CoUninitialize();
  return hr;
}

std::string FolderPath(int csidl) {
  win::LPITEMIDLIST pidl = nullptr;
  win::IMalloc* malloc = nullptr;
  EXPECT_EQ(win::SHGetMalloc(&malloc), S_OK);
  if (FAILED(win::SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) return "<failed>";
  char buf[MAX_PATH];
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

TEST_F(Shell, LinkReadsBackWithTargetDescriptionAndShowCommand) {
  const std::string desktop = FolderPath(CSIDL_DESKTOPDIRECTORY);
  const std::string file = profile + "/Desktop/Corvane.lnk";
  // Saved twice under one name: the second save replaces the first.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(SaveLink(desktop + "/Corvane.lnk", "C:\\Corvane\\cvnloader.exe"), S_OK);
    auto info = testenv::LnkInfo(file);
    ASSERT_TRUE(info) << "lnkinfo could not read " << file;
    EXPECT_EQ((*info)["Local path"], "C:\\Corvane\\cvnloader.exe");
    EXPECT_EQ((*info)["Description"], "cvn QT Wallet");
    EXPECT_EQ(info->count("Command line arguments"), 0u);
    EXPECT_EQ(info->count("Working directory"), 0u);
    EXPECT_EQ(testenv::LnkShowCommand(file), 5u);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(profile + "/Desktop"),
                          std::filesystem::directory_iterator()),
            1);
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

TEST_F(Shell, SaveIntoAMissingFolderFailsAndWritesNothing) {
  EXPECT_TRUE(FAILED(SaveLink(prefix.path() + "/missing/Corvane.lnk", "C:\\x.exe")));
  EXPECT_FALSE(testenv::Exists(prefix.path() + "/missing"));
}

TEST(ShellCom, ObjectsNeedCoInitializeAndAnswerOnlyTheirInterfaces) {
  win::IUnknown* unknown = nullptr;
  EXPECT_EQ(win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                  win::IID_IShellLinkA, reinterpret_cast<void**>(&unknown)),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(unknown, nullptr);

  ASSERT_EQ(win::CoInitialize(nullptr), S_OK);
  EXPECT_EQ(win::CoInitialize(nullptr), S_FALSE);
  win::CoUninitialize();
  EXPECT_EQ(win::CoCreateInstance(win::IID_IPersistFile, nullptr, CLSCTX_INPROC_SERVER,
                                  win::IID_IShellLinkA, reinterpret_cast<void**>(&unknown)),
            REGDB_E_CLASSNOTREG);
  win::IShellLinkA* link = nullptr;
  ASSERT_EQ(win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                  win::IID_IShellLinkA, reinterpret_cast<void**>(&link)),
            S_OK);
  const win::IID other = {0x12345678, 0, 0, {0}};
  void* none = link;
  EXPECT_EQ(link->QueryInterface(other, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  link->Release();
  win::CoUninitialize();
}

TEST(AnsiToOle, DecodesUtf8AndTakesStrayBytesAsLatin1) {
  EXPECT_EQ(platform::AnsiToOle("C:\\a"), u"C:\\a");
  EXPECT_EQ(platform::AnsiToOle("\xe2\x82\xac \xf0\x9f\x98\x80"), u"\u20ac \U0001F600");
  EXPECT_EQ(platform::AnsiToOle("\xe9t\xe9"), u"\u00e9t\u00e9");
  EXPECT_EQ(platform::AnsiToOle("\xc0\xaf"), u"\u00c0\u00af"); // overlong form
  EXPECT_EQ(platform::AnsiToOle(""), u"");
}

} // namespace
