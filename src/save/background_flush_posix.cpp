#include "save/background_flush_posix.h"

#include <cerrno>
#include <system_error>

#include "files/system_calls_posix.h"

BackgroundFlush::~BackgroundFlush() { Finish(); }

void BackgroundFlush::Request() {
  std::lock_guard lock(mutex_);
  if (finishing_) return;
  requested_ = true;
  if (thread_.joinable()) {
    wake_.notify_one();
    return;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    requested_ = false;  // no thread to be had: the flush at the end does it all
  }
}

Step BackgroundFlush::Finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  return error_ == 0 ? Step::Done() : Step::Failed(error_);
}

void BackgroundFlush::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || finishing_; });
    if (!requested_) return;
    requested_ = false;
    lock.unlock();
    const int error = os::fsync(fd_) != 0 ? errno : 0;
    lock.lock();
    if (error_ == 0) error_ = error;
  }
}
