#include "platform/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <vector>

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

// Every 8 MiB and at its end the writing behind says how long the file is on the disk, counting
// what the file held before; a writing that failed says nothing more.
TEST(FileStreamWriteBehind, TellsTheDurableLengths) {
  testenv::TempDir dir;
  const std::string block(1 << 20, 'b');
  const int64_t before = 1000;
  std::mutex mutex;
  std::vector<int64_t> told;
  auto tell = [&](int64_t length) {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back(length);
  };
  {
    TFileStream file(dir.file("grown"), fmCreate);
    file.WriteBuffer(block.data(), before);
    file.WriteBehind(false, tell);
    for (int i = 0; i < 20; ++i)
      file.WriteBuffer(block.data(), 1 << 20);
    file.WriteBuffer("z", 1);
    file.Close();
  }
  const int64_t whole = before + (20 << 20) + 1;
  ASSERT_GE(told.size(), 2u);
  EXPECT_EQ(told.back(), whole);
  for (size_t i = 0; i + 1 < told.size(); ++i) {
    EXPECT_LT(told[i], told[i + 1]);
    EXPECT_GE(told[i], before + (8 << 20)) << "told before 8 MiB were written";
  }

  told.clear();
  {
    TFileStream file("/dev/full", fmOpenReadWrite);
    file.WriteBehind(false, tell);
    for (int i = 0; i < 9; ++i)
      file.Write(block.data(), 1 << 20);
    EXPECT_THROW(file.Close(), EWriteError);
  }
  EXPECT_TRUE(told.empty());
}

// A program killed while it replaces a file leaves the old file or the new one, whole.
TEST(ReplaceFileDurably, KillLeavesTheOldFileOrTheNew) {
  testenv::TempDir dir;
  const std::string path = dir.file("record");
  const std::string texts[] = {"1073741824\n\"v1\"\ndurable 8388608\n",
                               "1073741824\n\"v1\"\ndurable 16777216\n" + std::string(9000, 'x')};
  ASSERT_TRUE(platform::ReplaceFileDurably(path, texts[0]));
  std::mt19937 random(28);
  for (int round = 0; round < 40; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (unsigned i = 0;; ++i)
        platform::ReplaceFileDurably(path, texts[i % 2]);
    }
    usleep(200 + random() % 3000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::ifstream in(path, std::ios::binary);
    std::stringstream held;
    held << in.rdbuf();
    EXPECT_TRUE(held.str() == texts[0] || held.str() == texts[1]) << "round " << round;
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
