// Flushing a new file to disk on a thread of its own while the save goes on writing it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "files/step_posix.h"

/// Flushes the open file `fd` to disk (fsync, through the seam) on a thread of its own each time
/// it is asked to, while the save goes on writing: the flush at the end then finds little left
/// to do. Asked again while a flush runs, it flushes once more after it. Where no thread can be
/// had, it flushes nothing, and the flush at the end does it all.
class BackgroundFlush {
 public:
  explicit BackgroundFlush(int fd) : fd_(fd) {}
  /// Waits for the flushes asked for (Finish).
  ~BackgroundFlush();
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;

  /// Asks for a flush of all that was written so far.
  void Request();

  /// Waits until every flush asked for is done; failed with the error of the first that failed.
  /// Such a failure must fail the save: the system tells of a write to disk that failed once
  /// only, so the flush at the end could find nothing wrong.
  Step Finish();

 private:
  void Run();

  const int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool requested_ = false;
  bool finishing_ = false;
  int error_ = 0;
};
