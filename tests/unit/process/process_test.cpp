// Starting a downloaded program and waiting for its end.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/run_later.h"
#include "support/testenv.h"

TEST(RunAndWait, ProgramIsAwaitedAndItsExitCodeReturned) {
  testenv::TempDir dir;
  for (int code : {0, 3}) {
    const std::string program = testenv::ExitingProgram(dir.path(), code);
    EXPECT_EQ(platform::RunAndWait(program), code);
    // Complete when the run returns, so the child has ended; it got no arguments.
    EXPECT_EQ(testenv::ReadFile(program + ".ran"), "0\n");
  }
}

TEST(RunAndWait, WhatCannotStartIsReportedAsMinusOne) {
  testenv::TempDir dir;
  testenv::WriteFile(dir.file("text.exe"), "just some text\n");
  testenv::WriteFile(dir.file("empty.exe"), "");
  EXPECT_EQ(platform::RunAndWait(dir.file("missing.exe")), -1);
  EXPECT_EQ(platform::RunAndWait(dir.file("text.exe")), -1);
  EXPECT_EQ(platform::RunAndWait(dir.file("empty.exe")), -1);
  EXPECT_EQ(platform::RunAndWait(dir.path()), -1);
}

// The thread's messages go on while the child runs (the window repaints and answers): a timer
// fires before the child has written its note.
TEST(RunAndWait, MessagesAreProcessedWhileTheChildRuns) {
  testenv::TempDir dir;
  const std::string program = testenv::ExitingProgram(dir.path(), 0);
  bool childStillRunning = false;
  testsupport::RunLater during(std::chrono::milliseconds(0), [&] {
    childStillRunning = !std::ifstream(program + ".ran").good();
  });
  EXPECT_EQ(platform::RunAndWait(program), 0);
  EXPECT_TRUE(childStillRunning);
}
