#include "platform/files.h"

namespace platform {

BackgroundFlush::BackgroundFlush(std::FILE* file) : file_(file), thread_([this] { Run(); }) {}

BackgroundFlush::~BackgroundFlush() {
  Finish();
}

void BackgroundFlush::Request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  wake_.notify_one();
}

bool BackgroundFlush::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  return !failed_;
}

void BackgroundFlush::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || stopping_; });
    if (!requested_) return;
    requested_ = false;
    lock.unlock();
    // A failure seen here may not be reported again to the one who syncs the file last.
    const bool ok = FlushFileData(file_);
    lock.lock();
    if (!ok) failed_ = true;
  }
}

} // namespace platform
