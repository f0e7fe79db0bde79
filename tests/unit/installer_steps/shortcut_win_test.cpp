// Shell folders as Windows gives them: a Desktop whose path fits MAX_PATH UTF-16 units though its
// UTF-8 is longer (a Cyrillic OneDrive Desktop).
#include <windows.h>

#include <gtest/gtest.h>

#include "install_fixture.h"
#include "platform/text.h"
#include <filesystem>

namespace installtest {
namespace {

constexpr wchar_t ShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The user's Desktop moved to folder for the scope of a test, as OneDrive moves it.
class MovedDesktop {
public:
  explicit MovedDesktop(const std::wstring& folder) {
    RegCreateKeyExW(HKEY_CURRENT_USER, ShellFolders, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
    DWORD size = sizeof saved_;
    had_ = RegQueryValueExW(key_, L"Desktop", nullptr, &type_, reinterpret_cast<BYTE*>(saved_),
                            &size) == ERROR_SUCCESS;
    RegSetValueExW(key_, L"Desktop", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  ~MovedDesktop() {
    if (had_)
      RegSetValueExW(key_, L"Desktop", 0, type_, reinterpret_cast<const BYTE*>(saved_),
                     static_cast<DWORD>((wcslen(saved_) + 1) * sizeof(wchar_t)));
    else
      RegDeleteValueW(key_, L"Desktop");
    RegCloseKey(key_);
  }

private:
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = REG_EXPAND_SZ;
  wchar_t saved_[1024] = {};
};

TEST_F(InstallSteps, ADesktopWithinMaxPathUnitsGetsItsShortcut) {
  // 161 UTF-16 units, 311 bytes of UTF-8 (in two names: Wine's host takes 255 bytes a name).
  const std::wstring parent = L"C:\\Corvane\\" + std::wstring(75, L'\x0416');
  const std::wstring folder = parent + L"\\" + std::wstring(74, L'\x0416');
  ASSERT_TRUE(CreateDirectoryW(L"C:\\Corvane", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  MovedDesktop moved(folder);
  std::string desktopPath;
  ASSERT_TRUE(SpecialFolder(CSIDL_DESKTOPDIRECTORY, desktopPath));
  EXPECT_EQ(desktopPath, platform::WideToUtf8(folder));
  Start({Ok("MZl"), Ok("MZw"), Ok("v")});
  Press(true, false);
  EXPECT_EQ(Log().back(), "Done.");
  // Read through the wide API: the test's own link reader takes the ANSI code page.
  EXPECT_GT(std::filesystem::file_size(std::filesystem::path(folder + L"\\Corvane.lnk")), 0u);
}

} // namespace
} // namespace installtest
