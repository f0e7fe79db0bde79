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

// A stream written behind its writer: what it wrote is all there, also when a seek comes between
// two writes, and a write or flush the system refuses fails the close, naming the file (a full
// device refuses the write, /dev/null has nothing to flush).
TEST(FileStreamClose, WriteBehindKeepsEveryByteAndReportsItsFailures) {
  testenv::TempDir dir;
  std::string block((1 << 20) + 3, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 4096);
  const auto size = static_cast<int64_t>(block.size());
  {
    TFileStream file(dir.file("big"), fmCreate);
    file.WriteBehind();
    for (int i = 0; i < 20; ++i) file.WriteBuffer(block.data(), size);
    EXPECT_EQ(file.Size(), 20 * size);
    file.WriteBehind();
    file.WriteBuffer(block.data(), size);
    file.Close(true);
  }
  TFileStream back(dir.file("big"), fmOpenRead);
  ASSERT_EQ(back.Size(), 21 * size);
  std::string got(block.size(), 'x');
  for (int64_t at : {int64_t{0}, 19 * size, 20 * size}) {
    back.Seek(at, soBeginning);
    back.ReadBuffer(got.data(), size);
    EXPECT_EQ(got, block) << "at " << at;
  }

  for (const char* device : {"/dev/full", "/dev/null"}) {
    TFileStream file(device, fmOpenReadWrite);
    file.WriteBehind();
    for (int i = 0; i < 9; ++i) file.Write(block.data(), size);
    try {
      file.Close();
      FAIL() << device << ": no exception";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message, std::string("Cannot write file ") + device);
    }
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
