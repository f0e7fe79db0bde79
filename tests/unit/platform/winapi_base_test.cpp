#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <pwd.h>
#include <string>

#include "platform/msgbox.h"
#include "platform/win32.h"
#include "support/testenv.h"

namespace {
std::string Env(const char* name) {
  char buf[256];
  const win::DWORD n = win::GetEnvironmentVariableA(name, buf, sizeof buf);
  return n < sizeof buf ? std::string(buf, n) : "<too long>";
}
} // namespace

TEST(GetEnvironmentVariableA, NameIsMatchedWithoutRegardToCase) {
  testenv::ScopedEnv v("CorvaneTestVar", "value 1");
  EXPECT_EQ(Env("CORVANETESTVAR"), "value 1");
  EXPECT_EQ(Env("corvanetestvar"), "value 1");
}

TEST(GetEnvironmentVariableA, SizesFollowTheWindowsContract) {
  testenv::ScopedEnv v("CORVANE_TEST_VAR", "12345");
  char small[5] = "xxxx";
  EXPECT_EQ(win::GetEnvironmentVariableA("CORVANE_TEST_VAR", small, sizeof small), 6u);
  EXPECT_EQ(win::GetEnvironmentVariableA("CORVANE_TEST_VAR", nullptr, 0), 6u);
  char exact[6];
  EXPECT_EQ(win::GetEnvironmentVariableA("CORVANE_TEST_VAR", exact, sizeof exact), 5u);
  EXPECT_STREQ(exact, "12345");

  testenv::ScopedEnv gone("CORVANE_TEST_GONE", std::nullopt);
  EXPECT_EQ(win::GetEnvironmentVariableA("CORVANE_TEST_GONE", exact, sizeof exact), 0u);
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_ENVVAR_NOT_FOUND));
}

TEST(GetEnvironmentVariableA, AppDataDefaultsToTheProfileFolderButEmptyStaysEmpty) {
  testenv::TempDir tmp;
  testenv::ScopedEnv prefix("WINEPREFIX", tmp.path());
  {
    testenv::ScopedEnv unset("APPDATA", std::nullopt);
    const std::string user = getpwuid(getuid())->pw_name;
    EXPECT_EQ(Env("APPDATA"), "C:\\users\\" + user + "\\AppData\\Roaming");
    EXPECT_EQ(Env("AppData"), "C:\\users\\" + user + "\\AppData\\Roaming");
    EXPECT_TRUE(
        std::filesystem::is_directory(tmp.path() + "/drive_c/users/" + user + "/AppData/Roaming"));
  }
  testenv::ScopedEnv empty("APPDATA", "");
  win::SetLastError(ERROR_ENVVAR_NOT_FOUND);
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(win::GetEnvironmentVariableA("APPDATA", buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_SUCCESS));
}

TEST(FileAttributes, DirectoriesFilesAndMissingPaths) {
  testenv::TempDir tmp;
  testenv::ScopedEnv prefix("WINEPREFIX", tmp.path());
  std::filesystem::create_directories(tmp.path() + "/drive_c/Corvane");
  testenv::WriteFile(tmp.path() + "/drive_c/Corvane/a.exe", "MZ");

  EXPECT_EQ(win::GetFileAttributesA("C:\\Corvane"), win::DWORD(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(win::GetFileAttributesA("C:\\Corvane\\"), 16u);
  EXPECT_EQ(win::GetFileAttributesA("\\Corvane\\"), 16u); // current drive, C:
  EXPECT_EQ(win::GetFileAttributesA("C:/Corvane/a.exe"), win::DWORD(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(win::GetFileAttributesA("C:\\Corvane\\a.exe\\"), INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(win::GetFileAttributesA("C:\\Corvane\\none"), 0xFFFFFFFFu);
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(win::GetFileAttributesA("C:\\none\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(win::GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
}

TEST(CreateDirectory, MakesOneLevelOnly) {
  testenv::TempDir tmp;
  testenv::ScopedEnv prefix("WINEPREFIX", tmp.path() + "/fresh");
  // A fresh prefix: C:\ is there as on any Windows machine.
  EXPECT_TRUE(win::CreateDirectoryA("C:\\Corvane\\", nullptr));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() + "/fresh/drive_c/Corvane"));

  EXPECT_FALSE(win::CreateDirectoryA("C:\\Corvane", nullptr));
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(win::CreateDirectoryA("C:\\a\\b\\", nullptr));
  EXPECT_EQ(win::GetLastError(), win::DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/fresh/drive_c/a"));
  EXPECT_FALSE(win::CreateDirectoryA("", nullptr));
}

TEST(MessageBoxA, TheHookSeesTheBoxAndAnswersForIt) {
  std::string seen;
  auto previous = platform::SetMessageBoxHook(
      [&](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
        seen = caption + "|" + text + "|" + std::to_string(type);
        return IDCANCEL;
      });
  EXPECT_EQ(win::MessageBoxA(nullptr, "text", nullptr, MB_OK | MB_ICONERROR), IDCANCEL);
  EXPECT_EQ(seen, "Error|text|16");
  platform::SetMessageBoxHook(std::move(previous));
}
