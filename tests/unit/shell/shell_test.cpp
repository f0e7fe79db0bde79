// Shell links and COM, written against the API: the same tests run against the real shell.
#include <gtest/gtest.h>

#include <filesystem>

#include "shell_fixture.h"
#include "support/lnkinfo.h"
#include "support/testenv.h"

TEST(ShellLink, ReadsBackWithTargetDescriptionAndShowCommand) {
  testenv::TempDir dir;
  const std::string file = dir.file("Corvane.lnk");
  // Saved twice under one name: the second save replaces the first.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(shelltest::SaveLink(file, "C:\\Corvane\\cvnloader.exe"), S_OK);
    auto info = testenv::LnkInfo(file);
    ASSERT_TRUE(info) << "lnkinfo could not read " << file;
    EXPECT_EQ((*info)["Local path"], "C:\\Corvane\\cvnloader.exe");
    EXPECT_EQ((*info)["Description"], "cvn QT Wallet");
    EXPECT_EQ(info->count("Command line arguments"), 0u);
    EXPECT_EQ(info->count("Working directory"), 0u);
    EXPECT_EQ(testenv::LnkShowCommand(file), 5u);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(ShellLink, SaveIntoAMissingFolderFailsAndWritesNothing) {
  testenv::TempDir dir;
  EXPECT_TRUE(FAILED(shelltest::SaveLink(dir.file("missing/Corvane.lnk"), "C:\\x.exe")));
  EXPECT_FALSE(testenv::Exists(dir.file("missing")));
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
