#include "platform/paths.h"

#include <gtest/gtest.h>

#include "support/testenv.h"

TEST(NativePath, DriveLettersMapIntoTheWinePrefix) {
  testenv::ScopedEnv prefix("WINEPREFIX", "/tmp/pfx");
  EXPECT_EQ(platform::NativePath("C:\\Corvane\\cvnloader.exe"),
            "/tmp/pfx/drive_c/Corvane/cvnloader.exe");
  EXPECT_EQ(platform::NativePath("c:/x"), "/tmp/pfx/drive_c/x");
  EXPECT_EQ(platform::NativePath("\\Corvane\\"), "/tmp/pfx/drive_c/Corvane/");
  EXPECT_EQ(platform::NativePath("D:\\a"), "/tmp/pfx/dosdevices/d:/a");
  EXPECT_EQ(platform::NativePath("/home/u/f.txt"), "/home/u/f.txt");
  // A native APPDATA joined with the installer's backslashes still names folders below it.
  EXPECT_EQ(platform::NativePath("/home/u/x\\Corvane\\"), "/home/u/x/Corvane/");
  EXPECT_EQ(platform::NativePath("dir\\f.txt"), "dir/f.txt");
}

TEST(NativePath, DefaultPrefixIsDotWineInHome) {
  testenv::ScopedEnv prefix("WINEPREFIX", std::nullopt);
  testenv::ScopedEnv home("HOME", "/home/tester");
  EXPECT_EQ(platform::NativePath("C:\\x"), "/home/tester/.wine/drive_c/x");
}
