// An open file on Windows, as the load and the save hold it: its handle, closed when it goes,
// the system's text for an error, reads of all that is asked, and its state. Every call that can
// fail goes through the seam in system_calls_win32.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/text.h"
#include "files/file_stamp.h"
#include "files/step_win32.h"
#include "files/system_calls_win32.h"

/// The largest file that a run holds in memory: 2 GiB less one byte.
constexpr int64_t kMaxFileSize = int64_t{1} << 31;

/// The system's text for `error`, empty where the system has none.
Text ErrorText(DWORD error);

/// Closes a file handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (valid()) os::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  /// Closes the handle held, if any, and holds `handle` instead.
  void Reset(HANDLE handle) {
    if (valid()) os::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

/// The size of the open file less the current position, which is put back where it was; failed
/// where the file has no size (a device or a pipe).
Found<int64_t> RemainingSize(HANDLE file);

/// Reads `size` bytes at the file's position, with as many requests as it takes; failed where a
/// request fails or the file ends before (ERROR_HANDLE_EOF).
Step ReadAll(HANDLE file, char* buffer, DWORD size);

/// A time of the file system as a number of its ticks.
int64_t Ticks(FILETIME time);

/// The state of the open file, from `information`, with the time of its last change of any kind
/// where the file system tells it (0 where not).
FileStamp StampOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information);
