// An open file on POSIX systems, as the load and the save hold it: its descriptor, closed when
// it goes, reads and writes of all that is asked, the advisory lock that keeps a load and an
// in-place save of the same file apart, and its state. Every system call goes through the seam in
// system_calls_posix.h.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/text.h"
#include "files/file_stamp.h"
#include "files/step_posix.h"
#include "files/system_calls_posix.h"

/// The largest file that a run holds in memory: 2 GiB less one byte.
constexpr int64_t kMaxFileSize = int64_t{1} << 31;

/// The system's text for the error `error`.
Text ErrorText(int error);

/// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) os::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  /// Gives the descriptor up without closing it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  /// Closes now: what the close came to.
  Step Close();

 private:
  int fd_;
};

/// Reads exactly `size` bytes; failed where a read fails or the file ends before (EIO).
Step ReadFully(int fd, char* buffer, size_t size);

/// Writes all `slices` with gathered writes, as many slices a request as the system takes, and
/// adds the number of bytes written to `*written`. Failed where a write fails.
Step WriteSlices(int fd, std::span<const std::string_view> slices, uint64_t* written);

/// Takes the advisory lock `operation` (LOCK_SH or LOCK_EX) on the open file, which keeps a load
/// and an in-place save of the same file, or two such saves, from overlapping. Waits for it a
/// few seconds at most; failed where it cannot be had. A file system without locks (NFS without
/// its lock service) is used without them.
Step WaitForLock(int fd, int operation);

/// The state of a file from its status.
FileStamp StampOf(const struct stat& st);
