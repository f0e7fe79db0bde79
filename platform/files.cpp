#include "platform/files.h"

#include <algorithm>

#include "platform/crypto.h"

namespace platform {

namespace {
// Written in pieces of the size downloads arrive in: with writes of 256 KiB or 1 MiB, every other
// 256 MiB download here was two to three times slower, all of it in the page-cache copy.
constexpr size_t ChunkSize = 64 << 10;
// Up to 4 MiB handed over and not yet written before the caller waits for the disk.
constexpr size_t ChunksAhead = 64;
constexpr size_t FlushEvery = 8 << 20;
} // namespace

BackgroundWriter::BackgroundWriter(std::FILE* file, bool hash, TDurableEvent onDurable)
    : file_(file), prefix_(hash ? TellFile(file) : 0), onDurable_(std::move(onDurable)),
      written_(onDurable_ ? TellFile(file) : 0),
      hash_(hash ? std::make_unique<Sha256Stream>() : nullptr) {
  filling_.reserve(ChunkSize);
  flusher_ = std::thread([this] { Flusher(); });
  thread_ = std::thread([this] { Run(); });
}

BackgroundWriter::~BackgroundWriter() {
  Finish();
}

bool BackgroundWriter::Write(const void* data, size_t count) {
  if (failed_) return false;
  const char* at = static_cast<const char*>(data);
  while (count > 0) {
    const size_t n = std::min(count, ChunkSize - filling_.size());
    filling_.insert(filling_.end(), at, at + n);
    at += n;
    count -= n;
    if (filling_.size() == ChunkSize) Hand();
  }
  return true;
}

void BackgroundWriter::Hand() {
  std::unique_lock<std::mutex> lock(mutex_);
  space_.wait(lock, [this] { return ready_.size() < ChunksAhead; });
  ready_.push_back(std::move(filling_));
  if (spare_.empty()) {
    filling_ = std::vector<char>();
    filling_.reserve(ChunkSize);
  } else {
    filling_ = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  wake_.notify_one();
}

bool BackgroundWriter::Finish() {
  if (!thread_.joinable()) return !failed_;
  if (!filling_.empty()) Hand();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  {
    std::lock_guard<std::mutex> lock(flushMutex_);
    if (onDurable_ && !failed_ && written_ >= 0) {
      flushWanted_ = true;
      flushLength_ = written_;
    }
    flushStopping_ = true;
  }
  flushWake_.notify_one();
  flusher_.join();
  return !failed_;
}

void BackgroundWriter::RequestFlush(int64_t length) {
  {
    std::lock_guard<std::mutex> lock(flushMutex_);
    flushWanted_ = true;
    flushLength_ = length;
  }
  flushWake_.notify_one();
}

// A flush asked for while one runs is done once that one ends: what was written meanwhile is in it.
void BackgroundWriter::Flusher() {
  std::unique_lock<std::mutex> lock(flushMutex_);
  for (;;) {
    flushWake_.wait(lock, [this] { return flushWanted_ || flushStopping_; });
    if (!flushWanted_) return;
    flushWanted_ = false;
    const int64_t length = flushLength_;
    lock.unlock();
    // A failure seen here may not be reported again to the one who syncs the file last.
    if (!failed_ && !FlushFileData(file_)) Fail();
    if (!failed_ && onDurable_ && length >= 0) onDurable_(length);
    lock.lock();
  }
}

void BackgroundWriter::Fail() {
  unsigned long none = 0;
  error_.compare_exchange_strong(none, LastFileError());
  failed_ = true;
}

bool BackgroundWriter::HashPrefix() {
  if (prefix_ < 0 || SeekFile(file_, 0, SEEK_SET) != 0) return false;
  std::vector<char> buffer(ChunkSize);
  for (int64_t left = prefix_; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, ChunkSize));
    if (std::fread(buffer.data(), 1, n, file_) != n) return false;
    hash_->Update(buffer.data(), n);
    left -= static_cast<int64_t>(n);
  }
  // Writing goes on where the reading stopped; the seek is what lets a stream switch over.
  return SeekFile(file_, prefix_, SEEK_SET) == 0;
}

void BackgroundWriter::Run() {
  if (hash_ && prefix_ != 0 && !HashPrefix()) Fail();
  size_t unflushed = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !ready_.empty() || stopping_; });
    if (ready_.empty()) {
      if (hash_ && !failed_) digest_ = hash_->Finish();
      return;
    }
    std::vector<char> chunk = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    // After a failure nothing more is written: the file stays a prefix of what was handed over.
    bool ok = !failed_ && std::fwrite(chunk.data(), 1, chunk.size(), file_) == chunk.size();
    if (ok && hash_) hash_->Update(chunk.data(), chunk.size());
    if (ok) written_ += static_cast<int64_t>(chunk.size());
    unflushed += chunk.size();
    if (ok && unflushed >= FlushEvery) {
      RequestFlush(written_);
      unflushed = 0;
    }
    if (!ok && !failed_) Fail();
    chunk.clear();
    lock.lock();
    spare_.push_back(std::move(chunk));
    space_.notify_one();
  }
}

} // namespace platform
