#include "files/open_file_posix.h"

#include <string.h>
#include <sys/file.h>

#include <cerrno>

Text ErrorText(int error) { return TextFromNative(strerror(error)); }

Step Descriptor::Close() {
  int fd = fd_;
  fd_ = -1;
  return os::close(fd) == 0 ? Step::Done() : Step::Failed(errno);
}

Step ReadFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = os::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Step::Failed(errno);
    if (n == 0) return Step::Failed(EIO);  // the file became shorter while it was read
    done += n;
  }
  return Step::Done();
}

Step WaitForLock(int fd, int operation) {
  constexpr int kAttempts = 500;
  const timespec pause = {0, 20'000'000};  // 20 ms, so 10 s at most
  for (int attempt = 0;; ++attempt) {
    if (os::flock(fd, operation | LOCK_NB) == 0) return Step::Done();
    const int error = errno;
    if (error == ENOLCK || error == EOPNOTSUPP || error == EINVAL) return Step::Done();
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || attempt == kAttempts) return Step::Failed(error);
    os::nanosleep(&pause, nullptr);
  }
}

namespace {

int64_t Nanoseconds(const timespec& time) {
  return int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

FileStamp StampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev),  static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size), Nanoseconds(st.st_mtim),
          Nanoseconds(st.st_ctim),           static_cast<uint32_t>(st.st_mode & 0777)};
}
