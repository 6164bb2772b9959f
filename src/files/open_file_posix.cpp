#include "files/open_file_posix.h"

#include <limits.h>
#include <string.h>
#include <sys/file.h>
#include <sys/uio.h>

#include <algorithm>
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

Step WriteSlices(int fd, std::span<const std::string_view> slices, uint64_t* written) {
  iovec vectors[IOV_MAX];
  while (!slices.empty()) {
    size_t count = std::min<size_t>(slices.size(), IOV_MAX);
    size_t asked = 0;
    for (size_t i = 0; i < count; ++i) {
      vectors[i] = {const_cast<char*>(slices[i].data()), slices[i].size()};
      asked += slices[i].size();
    }
    ssize_t n = asked == 0 ? 0 : os::writev(fd, vectors, static_cast<int>(count));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Step::Failed(errno);
    if (n == 0 && asked > 0) return Step::Failed(EIO);
    *written += n;
    // Steps past the slices written; one written in part goes on from where it stopped.
    size_t left = n;
    size_t done = 0;
    while (done < count && left >= slices[done].size()) left -= slices[done++].size();
    if (left > 0) {
      std::string_view rest = slices[done++].substr(left);
      Step rest_written = WriteSlices(fd, std::span<const std::string_view>(&rest, 1), written);
      if (!rest_written.done()) return rest_written;
    }
    slices = slices.subspan(done);
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
