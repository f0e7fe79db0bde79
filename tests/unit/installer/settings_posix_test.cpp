// The Linux stand-in fills in APPDATA the way Windows sets it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "startup_fixture.h"

TEST_F(StartUpTest, UnsetAppDataIsTheWindowsProfileFolder) {
  testenv::ScopedEnv env("APPDATA", std::nullopt);
  const std::string user = getpwuid(getuid())->pw_name;
  TForm1 form(nullptr);
  EXPECT_EQ(DataPath, "C:\\users\\" + user + "\\AppData\\Roaming");
  // Start-up went through: the profile folder is there and the chain directory was made in it.
  EXPECT_TRUE(
      std::filesystem::is_directory(drive_.path() + "/users/" + user + "/AppData/Roaming/Corvane"));
}
