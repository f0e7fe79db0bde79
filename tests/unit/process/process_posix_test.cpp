// The Linux starter: scripts and native programs by their path, Windows paths into the prefix,
// PE files through wine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "support/testenv.h"

namespace {

class Process : public ::testing::Test {
protected:
  testenv::TempDir dir;

  // A file as a download leaves it: no execute permission.
  std::string Put(const std::string& name, const std::string& content) {
    testenv::WriteFile(dir.file(name), content);
    chmod(dir.file(name).c_str(), 0644);
    return dir.file(name);
  }
};

} // namespace

TEST_F(Process, ScriptRunsWithItsPathAsTheOnlyWordAndIsAwaited) {
  const std::string out = dir.file("out.txt");
  const std::string script =
      Put("chain.exe", "#!/bin/sh\nsleep 0.2\necho \"$# $0\" > '" + out + "'\nexit 3\n");
  EXPECT_EQ(platform::RunAndWait(script), 3);
  // The file is complete when the run returns, so the child has ended.
  EXPECT_EQ(testenv::ReadFile(out), "0 " + script + "\n");
}

TEST_F(Process, ScriptThatExitsAtOnce) {
  EXPECT_EQ(platform::RunAndWait(Put("quick.exe", "#!/bin/sh\n")), 0);
  EXPECT_EQ(platform::RunAndWait(Put("arg.exe", "#!/bin/sh -e\nfalse\necho no\n")), 1);
}

TEST_F(Process, WindowsPathsMapIntoThePrefix) {
  testenv::ScopedEnv prefix("WINEPREFIX", dir.path());
  mkdir(dir.file("drive_c").c_str(), 0755);
  Put("drive_c/cvnchain.exe", "#!/bin/sh\nexit 7\n");
  EXPECT_EQ(platform::RunAndWait("\\cvnchain.exe"), 7);
  EXPECT_EQ(platform::RunAndWait("C:\\cvnchain.exe"), 7);
}

TEST_F(Process, WindowsProgramGoesThroughWine) {
  // A stand-in wine on PATH records how it was asked to run the program.
  const std::string bin = dir.file("bin");
  mkdir(bin.c_str(), 0755);
  const std::string log = dir.file("wine.log");
  Put("bin/wine", "#!/bin/sh\necho \"$#|$1\" > '" + log + "'\nexit 4\n");
  chmod(dir.file("bin/wine").c_str(), 0755);
  const std::string pe = Put("cvnchain.exe", std::string("MZ\x90\0\3", 5) + "rest");
  {
    testenv::ScopedEnv path("PATH", bin);
    EXPECT_EQ(platform::RunAndWait(pe), 4);
  }
  EXPECT_EQ(testenv::ReadFile(log), "1|" + pe + "\n");
  {
    testenv::ScopedEnv path("PATH", dir.file("nowhere"));
    EXPECT_EQ(platform::RunAndWait(pe), -1);
  }
}

TEST_F(Process, NativeProgramWithoutExecutePermissionStillRuns) {
  const std::string program = Put("true.exe", testenv::ReadFile("/bin/true"));
  EXPECT_EQ(platform::RunAndWait(program), 0);
}

TEST_F(Process, ScriptWithAMissingInterpreterCannotStart) {
  EXPECT_EQ(platform::RunAndWait(Put("badinterp.exe", "#!/nonexistent/sh\n")), -1);
}
