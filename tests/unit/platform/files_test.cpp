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

// A stream that goes to the disk behind its writer: what it wrote is all there, and a flush the
// system refuses (a device has nothing to flush) still fails the close, naming the file.
TEST(FileStreamClose, FlushBehindKeepsEveryByteAndReportsItsFailures) {
  testenv::TempDir dir;
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 4096);
  {
    TFileStream file(dir.file("big"), fmCreate);
    file.FlushBehind();
    for (int i = 0; i < 20; ++i) file.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
    file.Close(true);
  }
  TFileStream back(dir.file("big"), fmOpenRead);
  ASSERT_EQ(back.Size(), 20 * static_cast<int64_t>(block.size()));
  std::string last(block.size(), 'x');
  back.Seek(-static_cast<int64_t>(block.size()), soEnd);
  back.ReadBuffer(last.data(), static_cast<int64_t>(last.size()));
  EXPECT_EQ(last, block);

  TFileStream device("/dev/null", fmOpenReadWrite);
  device.FlushBehind();
  for (int i = 0; i < 9; ++i) device.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
  try {
    device.Close();
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message, "Cannot write file /dev/null");
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
