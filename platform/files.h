// File services the C library leaves to the system: 64-bit positions, durable writes, and the
// lock that keeps a second installer from running.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// fseek/ftell with 64-bit offsets (long is 32 bits on Windows). Seek returns 0 on success.
int SeekFile(std::FILE* file, int64_t offset, int whence);
int64_t TellFile(std::FILE* file);

// Flushes the stream and has the system write the file to disk; false when either fails.
bool SyncFile(std::FILE* file);

// Has the system write what an unbuffered stream holds to disk; false when that fails.
bool FlushFileData(std::FILE* file);

// Writes a file that is still growing to disk on a thread of its own, whenever asked. The writer
// never waits for the disk, and the flush that makes the whole file durable at its end finds
// little left to do instead of stalling for a second or more a GiB.
class BackgroundFlush {
public:
  explicit BackgroundFlush(std::FILE* file);
  ~BackgroundFlush();
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;

  // Asks for a flush of everything written so far; returns at once.
  void Request();
  // Lets a flush under way end and stops the thread; false when any flush failed.
  bool Finish();

private:
  void Run();

  std::FILE* file_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool stopping_ = false;
  bool failed_ = false;
  std::thread thread_;
};

// Takes the machine-wide lock of the installer, held until the process ends. False when another
// running installer holds it.
bool AcquireInstanceLock();

} // namespace platform
