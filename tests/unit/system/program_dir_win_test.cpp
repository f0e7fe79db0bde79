// The program directory's access list, read back from the system.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/files.h"
#include "platform/security_win.h"
#include "platform/text.h"
#include "support/testenv.h"

namespace {

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring out = text;
  LocalFree(text);
  return out;
}

std::wstring CurrentUser() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

struct Dacl {
  bool isProtected = false;
  std::map<std::wstring, DWORD> allowed; // SID -> access mask
  int denied = 0;
};

Dacl ReadDacl(PSECURITY_DESCRIPTOR descriptor, PACL acl) {
  Dacl dacl;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  dacl.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
      dacl.allowed[SidText(&allowed->SidStart)] |= allowed->Mask;
    } else {
      ++dacl.denied;
    }
  }
  return dacl;
}

// The list of the directory, as the system keeps it.
Dacl ReadDacl(const std::string& path) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(platform::Utf8ToWide(path).c_str(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return {};
  Dacl dacl = ReadDacl(descriptor, acl);
  LocalFree(descriptor);
  return dacl;
}

// The list the directory is made with.
Dacl ReadDacl(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return {};
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
  Dacl dacl = ReadDacl(descriptor, present ? acl : nullptr);
  LocalFree(descriptor);
  return dacl;
}

constexpr DWORD Change = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD;

} // namespace

void ExpectOnlyOwnersChange(const Dacl& dacl) {
  EXPECT_TRUE(dacl.isProtected);
  EXPECT_EQ(dacl.denied, 0);
  ASSERT_EQ(dacl.allowed.size(), 4u);
  for (const std::wstring& sid :
       {std::wstring(L"S-1-5-18"), std::wstring(L"S-1-5-32-544"), CurrentUser()}) {
    ASSERT_TRUE(dacl.allowed.count(sid)) << platform::WideToUtf8(sid);
    EXPECT_EQ(dacl.allowed.at(sid) & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  }
  ASSERT_TRUE(dacl.allowed.count(L"S-1-5-32-545")); // Users
  const DWORD users = dacl.allowed.at(L"S-1-5-32-545");
  EXPECT_EQ(users & (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE),
            static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
  EXPECT_EQ(users & Change, 0u);
}

TEST(ProgramDirectory, IsMadeWithAListWhereOnlyTheUserAdministratorsAndSystemChange) {
  ExpectOnlyOwnersChange(ReadDacl(platform::ProgramDirectorySddl()));
}

TEST(ProgramDirectory, KeepsThatList) {
  testenv::TempDir dir;
  const std::string path = dir.file("\xC5\x81ukasz Corvane");
  ASSERT_TRUE(platform::CreateProgramDirectory(path + "\\"));
  SKIP_ON_WINE("a file's access list is made from its Unix mode, not kept as it was given");
  ExpectOnlyOwnersChange(ReadDacl(path));
}

TEST(ProgramDirectory, AnExistingDirectoryIsLeftAsItIs) {
  testenv::TempDir dir;
  const std::string path = dir.file("existing");
  ASSERT_TRUE(CreateDirectoryW(platform::Utf8ToWide(path).c_str(), nullptr));
  const Dacl before = ReadDacl(path);
  EXPECT_FALSE(platform::CreateProgramDirectory(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  const Dacl after = ReadDacl(path);
  EXPECT_EQ(after.isProtected, before.isProtected);
  EXPECT_EQ(after.allowed, before.allowed);
}

// One made by an older version, with the list C:\ passes on: the user's own, so it gets the list
// of a new one.
TEST(ProgramDirectory, AnExistingOneOfTheUsersGetsThatList) {
  testenv::TempDir dir;
  const std::string path = dir.file("older");
  ASSERT_TRUE(CreateDirectoryW(platform::Utf8ToWide(path).c_str(), nullptr));
  EXPECT_EQ(platform::SecureProgramDirectory(path + "\\"),
            platform::ProgramDirectoryState::Secured);
  SKIP_ON_WINE("a file's access list is made from its Unix mode, not kept as it was given");
  ExpectOnlyOwnersChange(ReadDacl(path));
}
