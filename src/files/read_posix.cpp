// Reading a file on POSIX systems: a regular file, opened without following a link that
// somebody else planted, read under a shared advisory lock, so that an in-place save of the same
// file by another run never mixes into what is read. Every system call goes through the seam in
// system_calls_posix.h.
#include <sys/file.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "base/messages.h"
#include "files/file_failures.h"
#include "files/link_walk_posix.h"
#include "files/open_file_posix.h"
#include "files/read.h"

namespace {

/// Room for `size` bytes. A large program's buffer is backed by huge pages where the system
/// offers them on request: its first touch then costs a fraction of what small pages cost.
std::string BufferOf(size_t size) {
  std::string bytes;
  bytes.reserve(size);
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  auto begin = reinterpret_cast<uintptr_t>(bytes.data());
  uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t last = (begin + size) & ~(kHugePage - 1);
  if (last > first) os::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  bytes.resize(size);
  return bytes;
}

/// A regular file opened for reading, as a load opens it.
class PosixPieceReader : public PieceReader {
 public:
  /// Opens the file at `path`; raises the open failure, or "EReadError" when it is too large.
  explicit PosixPieceReader(const Text& path)
      : path_(path), target_(TargetOf(path)), file_(Open(path, target_)) {
    struct stat st;
    // An in-place save of the same file by another run ends before the bytes are read.
    if (Step locked = WaitForLock(file_.get(), LOCK_SH); !locked.done()) {
      RaiseOpenFailure(path, ErrorText(locked.error()));
    }
    if (os::fstat(file_.get(), &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
    if (st.st_size >= kMaxFileSize) RaiseTooLargeFailure(path);
    stamp_ = StampOf(st);
    size_ = static_cast<size_t>(st.st_size);
  }

  const FileStamp& stamp() const override { return stamp_; }

  size_t Read(char* buffer, size_t room) override {
    size_t size = std::min(room, size_ - position_);
    if (!ReadFully(file_.get(), buffer, size).done()) RaiseReadFailure();
    position_ += size;
    return size;
  }

  std::string ReadWhole() override {
    if (position_ != 0 && os::lseek(file_.get(), 0, SEEK_SET) != 0) RaiseReadFailure();
    position_ = 0;
    std::string bytes = BufferOf(size_);
    if (!ReadFully(file_.get(), bytes.data(), bytes.size()).done()) RaiseReadFailure();
    position_ = size_;
    file_.Close();
    return bytes;
  }

  void CheckUnchanged() const override {
    struct stat now;
    if (os::stat(target_.c_str(), &now) != 0) {
      if (errno == ENOENT) RaiseCreateFailure(path_, kChangedMeanwhileReason);
      RaiseCreateFailure(path_, ErrorText(errno));
    }
    if (StampOf(now) != stamp_) RaiseCreateFailure(path_, kChangedMeanwhileReason);
  }

 private:
  /// Where the file at `path` lies, links followed; raises the open failure where a link cannot
  /// be followed.
  static std::string TargetOf(const Text& path) {
    Found<std::string> target = FinalTarget(NativeFromText(path));
    if (!target.step.done()) RaiseOpenFailure(path, ErrorText(target.step.error()));
    return target.value;
  }

  /// The descriptor of the regular file at `path`, which lies at `target`, not locked yet.
  static int Open(const Text& path, const std::string& target) {
    // Opened without blocking, so that a FIFO or a device cannot stall the run; a link put in
    // the file's place since its links were followed is not followed.
    int fd = os::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) RaiseOpenFailure(path, ErrorText(errno));
    Descriptor file(fd);
    struct stat st;
    if (os::fstat(fd, &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
    if (S_ISDIR(st.st_mode)) RaiseOpenFailure(path, ErrorText(EISDIR));
    if (!S_ISREG(st.st_mode)) RaiseOpenFailure(path, kNotARegularFile);
    return file.Release();
  }

  Text path_;
  std::string target_;  // where the file lies, links followed
  Descriptor file_;
  FileStamp stamp_;
  size_t size_ = 0;
  size_t position_ = 0;
};

}  // namespace

std::unique_ptr<PieceReader> OpenInPieces(const Text& path) {
  return std::make_unique<PosixPieceReader>(path);
}

std::string ReadWholeFile(const Text& path, FileStamp* stamp) {
  PosixPieceReader reader(path);
  if (stamp) *stamp = reader.stamp();
  return reader.ReadWhole();
}
