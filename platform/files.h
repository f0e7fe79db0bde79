// File services the C library leaves to the system: 64-bit positions, durable writes, and the
// lock that keeps a second installer from running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class Sha256Stream;

// fseek/ftell with 64-bit offsets (long is 32 bits on Windows). Seek returns 0 on success.
int SeekFile(std::FILE* file, int64_t offset, int whence);
int64_t TellFile(std::FILE* file);

// Flushes the stream and has the system write the file to disk; false when either fails.
bool SyncFile(std::FILE* file);

// The system's reason (a Windows error code) why the file call of this layer or of the C library
// just made on this thread failed: on Windows the thread's last error, on Linux errno as the
// stand-in maps it (a full disk is ERROR_DISK_FULL, 112; 0 for an error without a counterpart).
unsigned long LastFileError();

// Has the system write what an unbuffered stream holds to disk; false when that fails.
bool FlushFileData(std::FILE* file);

// Replaces the file at path by one holding text so that a power cut at any moment leaves the old
// file or the new one, never a mix: the text goes into path + ".new", which is put on the disk and
// then renamed over path, and the rename itself is put on the disk before this returns. False
// when any step failed (the old file, if any, then stays).
bool ReplaceFileDurably(const std::string& path, const std::string& text);

// Puts on the disk what was renamed or removed in the folder that holds path, so that a power cut
// after this returns cannot bring an older state of the folder back. On Windows nothing is done:
// the moves of MoveFileOver are written through, and a removal may still come back after a power
// cut. False, with the system's error, when it failed.
bool SyncFolderOf(const std::string& path);

// Writes a growing file on a thread of its own and has the system put it on the disk every 8 MiB,
// on a second thread, so that writing goes on while the disk catches up. The caller hands over
// copies of its blocks and goes on at once; it waits only while the writing is a few MiB behind,
// so memory stays flat however big the file. The flush that makes the whole
// file durable at its end then finds little left to do instead of stalling for a second or more
// a GiB. What reaches the file is always a prefix of what was handed over.
//
// With hash, the thread also computes the SHA-256 of the whole file as it writes it: the bytes the
// file holds before its current position are read once, first, and then all that is handed over.
// Nothing needs reading again once the last block is written.
//
// With onDurable, each flush that succeeded tells it, on the flushing thread, the length of the
// file that is now on the disk; Finish then flushes once more and tells the whole length.
class BackgroundWriter {
public:
  using TDurableEvent = std::function<void(int64_t Length)>;
  explicit BackgroundWriter(std::FILE* file, bool hash = false, TDurableEvent onDurable = {});
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Takes a copy of count bytes; false (and nothing taken) once a write or flush has failed.
  bool Write(const void* data, size_t count);
  // Writes out all that was handed over and stops the thread; false when any write or flush
  // failed.
  bool Finish();
  // After Finish, with hash: the SHA-256 of the file (64 lower-case hex digits); nothing when
  // not hashing, or when a read, write or the hash failed.
  const std::optional<std::string>& Sha256() const { return digest_; }
  // Once a write or flush failed: the system's reason (LastFileError) of the first failure.
  unsigned long Error() const { return error_; }

private:
  void Hand();
  void Run();
  void Flusher();
  void RequestFlush(int64_t length);

  bool HashPrefix();

  std::FILE* file_;
  int64_t prefix_ = 0;
  TDurableEvent onDurable_;
  int64_t written_ = 0; // the file's length as the writing thread left it
  std::unique_ptr<Sha256Stream> hash_;
  std::optional<std::string> digest_;
  std::vector<char> filling_;
  std::mutex mutex_;
  std::condition_variable wake_, space_;
  std::deque<std::vector<char>> ready_;
  std::vector<std::vector<char>> spare_;
  bool stopping_ = false;
  std::atomic<bool> failed_{false};
  std::atomic<unsigned long> error_{0};
  // Notes the failure of the call just made on this thread, and its reason.
  void Fail();
  std::mutex flushMutex_;
  std::condition_variable flushWake_;
  bool flushWanted_ = false, flushStopping_ = false;
  int64_t flushLength_ = 0; // what the flush asked for makes durable
  std::thread flusher_, thread_;
};

// Takes the machine-wide lock of the installer, held until the process ends. False when another
// running installer holds it, and also when the lock cannot be opened at all (another user's or
// session's lock): a lock that cannot be checked must not let a second installer run.
bool AcquireInstanceLock();

// Creates one level of directory for the program's files that only its user may change besides
// the system's own: on Windows a protected access list giving full control to the user,
// Administrators and SYSTEM and read & execute to the other users (nothing inherited from the
// parent, where every signed-in user may write); on Linux mode 0755 whatever the umask, owned by
// the user who makes it. False, with the system's error, when it cannot be made or already
// exists; an existing directory is left as it is.
bool CreateProgramDirectory(const std::string& path);

// What SecureProgramDirectory found an existing program directory to be.
enum class ProgramDirectoryState {
  Secured,    // the user's (or the system's) own, now with the access CreateProgramDirectory gives
  Link,       // a symbolic link or junction (the directory itself): nothing was changed
  OtherOwner, // another user's: nothing was changed
  Failed,     // no directory, or its access could not be set
};

// Gives an existing directory the access of one CreateProgramDirectory makes, when it belongs to
// the user or to the system (Administrators or SYSTEM; on Linux root). A directory made by an
// older version or in advance by another user may otherwise let that user replace the programs
// the owner runs. On Linux: mode 0755; a directory of root's that this user cannot change counts
// as secured only when neither its group nor others may write to it.
ProgramDirectoryState SecureProgramDirectory(const std::string& path);

} // namespace platform
