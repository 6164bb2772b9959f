// An open file on Windows, as the load and the save hold it: its handle, closed when it goes,
// the system's text for an error, reads and writes of all that is asked, its state, and the
// patience with a file that another program holds for a moment. Every call that can
// fail goes through the seam in system_calls_win32.h.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

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

// ---------------------------------------------------------------------------------------------
// Writing

/// Writes all of `bytes` at `*position`, which it moves on: one request, then one for the rest as
/// long as some is left. A request after the first that writes nothing fails the whole write; a
/// failing request writes nothing. Each request names where it writes, so that one that took
/// effect before it failed is written again over the same bytes.
Step WriteAll(HANDLE file, std::string_view bytes, uint64_t* position);

/// Writes all of `bytes` from the start of the file.
Step WriteFromStart(HANDLE file, std::string_view bytes);

/// Moves the file's position to `position`.
Step MoveTo(HANDLE file, int64_t position);

/// Makes the file `size` bytes long.
Step SetLength(HANDLE file, int64_t size);

// ---------------------------------------------------------------------------------------------
// A file that another program holds for a moment

/// How long a file that another program holds for a moment is waited for, in milliseconds.
constexpr DWORD kHoldPatience = 2000;

/// Whether `error` says that some other program has the file open for a moment (a virus
/// scanner, the search indexer, a sync client). An open may also meet "access denied" then, from
/// a file whose deletion is pending.
bool Held(DWORD error, bool denied_too);

/// Calls `attempt`, which gives a Step, until it is done, for about two seconds at most while it
/// fails because some other program holds the file (Held). Gives what the last attempt came to.
template <typename Attempt>
Step RetryWhileHeld(Attempt attempt, bool denied_too) {
  DWORD pause = 10;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(pause * 2, 250)) {
    const Step step = attempt();
    if (step.done() || !Held(step.error(), denied_too) || waited >= kHoldPatience) return step;
    os::Sleep(pause);
  }
}

/// Opens the existing file at `path` for reading and writing with no sharing: nobody else may
/// open it while the save holds it, and the open fails while anybody else has it open.
Found<HANDLE> OpenExclusively(const Text& path);
