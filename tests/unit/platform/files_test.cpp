#include "platform/files.h"

#include <gtest/gtest.h>

#include "framework/Classes.h"
#include "support/testenv.h"

TEST(InstanceLock, SecondInstallerOnTheSamePrefixIsRefused) {
  testenv::TempDir dir;
  testenv::ScopedEnv prefix("WINEPREFIX", dir.path());
  EXPECT_TRUE(platform::AcquireInstanceLock());
  EXPECT_FALSE(platform::AcquireInstanceLock());
}

TEST(FileStreamClose, FailedFlushNamesTheFile) {
  TFileStream file("/dev/full", fmOpenReadWrite);
  EXPECT_LT(file.Write("abc", 3), 3); // nothing is buffered: a full disk refuses the block at once
  try {
    file.Close(true);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message, "Cannot write file /dev/full");
  }
}

TEST(FileStreamSeek, PositionsBeyondFourGiB) {
  testenv::TempDir dir;
  TFileStream file(dir.file("sparse"), fmCreate);
  const int64_t at = (int64_t{5} << 30) + 7;
  EXPECT_EQ(file.Seek(at, soBeginning), at);
  file.WriteBuffer("x", 1);
  EXPECT_EQ(file.Size(), at + 1);
}
