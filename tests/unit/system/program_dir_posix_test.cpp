// The program directory on Linux: 0755 and the user's, whatever the umask.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/testenv.h"

TEST(ProgramDirectory, OnlyTheUserMayChangeItOthersReadAndRun) {
  testenv::TempDir dir;
  const mode_t saved = umask(077);
  const bool made = platform::CreateProgramDirectory(dir.file("Corvane/"));
  umask(saved);
  ASSERT_TRUE(made);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("Corvane").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(st.st_uid, getuid());
}

TEST(ProgramDirectory, AnExistingDirectoryIsLeftAsItIs) {
  testenv::TempDir dir;
  ASSERT_EQ(mkdir(dir.file("open").c_str(), 0700), 0);
  chmod(dir.file("open").c_str(), 0777);
  EXPECT_FALSE(platform::CreateProgramDirectory(dir.file("open")));
  struct stat st {};
  ASSERT_EQ(stat(dir.file("open").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
}
