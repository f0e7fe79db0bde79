// The program directory on Linux: 0755 and the user's, whatever the umask.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

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

// An existing directory: the user's (or root's) is given the mode of a new one; a link or another
// user's is left alone and refused.
TEST(ProgramDirectory, AnExistingOneIsSecuredOnlyWhenItIsTheUsers) {
  using State = platform::ProgramDirectoryState;
  testenv::TempDir dir;
  const bool root = geteuid() == 0;
  const struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    State state;
    mode_t modeAfter; // of the directory itself; 0: not looked at
  } cases[] = {
      {"the user's, open to all",
       [](const std::string& p) {
         mkdir(p.c_str(), 0777);
         chmod(p.c_str(), 0777);
       },
       State::Secured, 0755},
      {"the user's, closed", [](const std::string& p) { mkdir(p.c_str(), 0700); }, State::Secured,
       0755},
      {"a link to the user's",
       [&dir](const std::string& p) {
         mkdir(dir.file("target").c_str(), 0777);
         chmod(dir.file("target").c_str(), 0777);
         symlink(dir.file("target").c_str(), p.c_str());
       },
       State::Link, 0},
      {"a file", [](const std::string& p) { testenv::WriteFile(p, "x"); }, State::Failed, 0},
      // Only root can give a folder away: for anyone else it stays the user's.
      {"another user's",
       [](const std::string& p) {
         mkdir(p.c_str(), 0777);
         chmod(p.c_str(), 0777);
         (void)chown(p.c_str(), 65534, 65534);
       },
       root ? State::OtherOwner : State::Secured, root ? 0777u : 0755u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file(std::string(c.what));
    c.make(path);
    EXPECT_EQ(platform::SecureProgramDirectory(path + "/"), c.state);
    struct stat st {};
    if (c.modeAfter != 0) {
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.modeAfter);
    }
  }
  struct stat target {};
  ASSERT_EQ(stat(dir.file("target").c_str(), &target), 0);
  EXPECT_EQ(target.st_mode & 07777, 0777u) << "what a link names is not changed";
}
