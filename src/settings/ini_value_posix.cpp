// The INI lookup on POSIX systems, which have no such service: the file is read afresh on each
// lookup and searched by our own INI reader. It is only ever read: never created, written or
// locked. Every system call goes through the seam in system_calls_posix.h.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "files/system_calls_posix.h"
#include "settings/ini_parser.h"
#include "settings/ini_value.h"

namespace {

/// The first `limit` bytes of the regular file at `path` (all of a smaller one) in `bytes`;
/// false when it cannot be opened or read, or is no regular file.
bool ReadFileStart(const std::string& path, size_t limit, std::string* bytes) {
  // Opened without blocking, so that a FIFO of the name cannot stall the run.
  int fd = os::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st;
  bool ok = os::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) bytes->resize(std::min(limit, static_cast<size_t>(st.st_size) + 1));
  limit = bytes->size();
  size_t done = 0;
  while (ok && done < limit) {
    ssize_t n = os::read(fd, bytes->data() + done, limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += n;
  }
  os::close(fd);
  bytes->resize(done);
  return ok;
}

}  // namespace

Text ReadIniValue(TextView section, TextView key, const Text& path) {
  std::string bytes;
  // One byte more than the reader decodes tells it that the file goes on.
  if (!ReadFileStart(NativeFromText(path), kMaxIniFileBytes + 1, &bytes)) return Text();
  return FindIniValue(DecodeIniFile(bytes), section, key);
}
