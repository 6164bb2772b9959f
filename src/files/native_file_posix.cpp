// Files on POSIX systems. There are no share modes here. The save writes a new file beside the
// user's file and renames it over the old one wherever that keeps everything the file had (owner,
// group, mode, links, extended attributes); otherwise it writes the file in place, with its new
// length reserved first and the old bytes written back should a write still fail.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/messages.h"
#include "files/file_failures.h"
#include "files/native_file.h"

namespace {

constexpr int64_t kMaxFileSize = int64_t{1} << 31;

Text ErrorText(int error) { return TextFromNative(strerror(error)); }

/// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  /// Closes now and tells whether the close succeeded.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

/// Removes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

bool ReadFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

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
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  bytes.resize(size);
  return bytes;
}

/// Writes all `pieces` with gathered writes, as many pieces a request as the system takes, and
/// adds the number of bytes written to `*written`.
bool WritePieces(int fd, FileContent::Pieces pieces, uint64_t* written) {
  iovec vectors[IOV_MAX];
  while (!pieces.empty()) {
    size_t count = std::min<size_t>(pieces.size(), IOV_MAX);
    size_t asked = 0;
    for (size_t i = 0; i < count; ++i) {
      vectors[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
      asked += pieces[i].size();
    }
    ssize_t n = asked == 0 ? 0 : writev(fd, vectors, static_cast<int>(count));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && asked > 0)) return false;
    *written += n;
    // Steps past the pieces written; one written in part goes on from where it stopped.
    size_t left = n;
    size_t done = 0;
    while (done < count && left >= pieces[done].size()) left -= pieces[done++].size();
    if (left > 0) {
      std::string_view rest = pieces[done++].substr(left);
      if (!WritePieces(fd, FileContent::Pieces(&rest, 1), written)) return false;
    }
    pieces = pieces.subspan(done);
  }
  return true;
}

/// Writes `content` at the descriptor's position; `*written` counts the bytes that reached it.
bool WriteContent(int fd, const FileContent& content, uint64_t* written) {
  return content.WriteTo(
      [fd, written](FileContent::Pieces pieces) { return WritePieces(fd, pieces, written); });
}

/// The file that a save to `path` replaces: the final target where `path` is a symbolic link,
/// so that the link stays a link.
std::string ResolveLinks(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  free(resolved);
  return target;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

/// Checks what would make the create of `target` fail before anything is written; raises the
/// create failure for `path`. Returns the existing file's status, if any, in `existing`.
bool CheckTarget(const Text& path, const std::string& target, struct stat* existing) {
  if (stat(target.c_str(), existing) != 0) {
    if (errno == ENOENT) return false;
    RaiseCreateFailure(path, ErrorText(errno));
  }
  if (S_ISDIR(existing->st_mode)) RaiseCreateFailure(path, ErrorText(EISDIR));
  if (!S_ISREG(existing->st_mode)) RaiseCreateFailure(path, kNotARegularFile);
  // A file without any write permission bit is read-only, also for the superuser.
  if ((existing->st_mode & 0222) == 0) RaiseCreateFailure(path, ErrorText(EACCES));
  if (access(target.c_str(), W_OK) != 0) RaiseCreateFailure(path, ErrorText(errno));
  return true;
}

void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // best effort: the rename is done either way
  close(fd);
}

/// A new file of a short name of its own in `folder`, or -1 (errno set). The name is short
/// enough for every file system, whatever the name of the file it stands in for.
int CreateTemporaryFile(const std::string& folder, std::string* name) {
  std::string pattern = folder + "/.prune-XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) *name = pattern;
  return fd;
}

/// Gives the file `fd` every extended attribute of `source` (the access control list among
/// them); false when one cannot be read or given.
bool CopyExtendedAttributes(const std::string& source, int fd) {
  ssize_t size = listxattr(source.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> names(size);
  size = listxattr(source.c_str(), names.data(), names.size());
  if (size < 0) return false;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
    ssize_t length = getxattr(source.c_str(), name, nullptr, 0);
    if (length < 0) return false;
    value.resize(length);
    length = getxattr(source.c_str(), name, value.data(), value.size());
    if (length < 0 || fsetxattr(fd, name, value.data(), length, 0) != 0) return false;
  }
  return true;
}

/// Makes the new file at `fd` what the existing file was apart from its content: owner, group,
/// permission bits and extended attributes. False when the platform refuses any of them.
bool TakeOverAttributes(int fd, const std::string& target, const struct stat& existing) {
  if (fchown(fd, existing.st_uid, existing.st_gid) != 0) return false;
  // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
  if (fchmod(fd, existing.st_mode & 07777) != 0) return false;
  return CopyExtendedAttributes(target, fd);
}

/// The new content goes to a new file beside `target`, flushed, then renamed over it: a run
/// killed at any moment leaves the old content or the new, never a mix. False, with nothing
/// changed, where that would not keep what the existing file has (`existing` null for a new
/// file); raises the write failure when the content cannot be written.
bool ReplaceByRename(const std::string& target, const struct stat* existing,
                     const FileContent& content) {
  std::string name;
  Descriptor file(CreateTemporaryFile(FolderOf(target), &name));
  if (file.get() < 0) return false;
  TemporaryFile temporary(name);
  if (existing) {
    if (!TakeOverAttributes(file.get(), target, *existing)) return false;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(file.get(), 0666 & ~mask);
  }
  uint64_t written = 0;
  if (!WriteContent(file.get(), content, &written) || fsync(file.get()) != 0 || !file.Close()) {
    RaiseWriteFailure();
  }
  // Refused in a sticky folder for a file of another owner: then it is written in place.
  if (rename(temporary.path().c_str(), target.c_str()) != 0) return false;
  temporary.Release();
  SyncFolder(FolderOf(target));
  return true;
}

/// Takes the advisory lock `operation` (LOCK_SH or LOCK_EX) on the open file, which keeps a load
/// and an in-place save of the same file, or two such saves, from overlapping. Waits for it a
/// few seconds at most; false (errno set) when it cannot be had.
bool WaitForLock(int fd, int operation) {
  constexpr int kAttempts = 500;
  const timespec pause = {0, 20'000'000};  // 20 ms, so 10 s at most
  for (int attempt = 0;; ++attempt) {
    if (flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || attempt == kAttempts) return false;
    nanosleep(&pause, nullptr);
  }
}

/// Reserves room for `new_size` bytes in the open file of `old_size` bytes, so that a full disk
/// or a quota shows before any of its bytes change. Where the file system cannot reserve without
/// growing the file, it grows it; `*grown` then says so.
bool ReserveRoom(int fd, off_t old_size, off_t new_size, bool* grown) {
  if (new_size <= old_size) return true;
#if defined(FALLOC_FL_KEEP_SIZE)
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) == 0) return true;
  if (errno != EOPNOTSUPP) return false;
#endif
  *grown = true;
  return posix_fallocate(fd, old_size, new_size - old_size) == 0;
}

/// Writes the content into the existing file itself, which keeps everything the file has: its
/// owner, group, mode, links, extended attributes and name. Should a write fail, the old bytes,
/// read beforehand, are written back and the old length restored.
void WriteInPlace(const Text& path, const std::string& target, const FileContent& content) {
  Descriptor file(open(target.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) RaiseCreateFailure(path, ErrorText(errno));
  struct stat st;
  if (!WaitForLock(file.get(), LOCK_EX) || fstat(file.get(), &st) != 0) {
    RaiseCreateFailure(path, ErrorText(errno));
  }
  std::string old(static_cast<size_t>(st.st_size), '\0');
  if (!ReadFully(file.get(), old.data(), old.size()) || lseek(file.get(), 0, SEEK_SET) != 0) {
    RaiseCreateFailure(path, ErrorText(errno));
  }
  const off_t old_size = st.st_size;
  const off_t new_size = static_cast<off_t>(content.Size());
  bool grown = false;
  uint64_t written = 0;
  bool done = ReserveRoom(file.get(), old_size, new_size, &grown) &&
              WriteContent(file.get(), content, &written) && ftruncate(file.get(), new_size) == 0 &&
              fsync(file.get()) == 0;
  if (done) return;
  // Back to the old bytes: the length first, then what was overwritten.
  if (grown || written > 0) {
    if (ftruncate(file.get(), old_size) == 0 && lseek(file.get(), 0, SEEK_SET) == 0) {
      size_t changed = std::min<uint64_t>(std::max<uint64_t>(written, new_size), old.size());
      std::string_view overwritten = std::string_view(old).substr(0, changed);
      uint64_t restored = 0;
      WritePieces(file.get(), FileContent::Pieces(&overwritten, 1), &restored);
    }
    fsync(file.get());
  }
  RaiseWriteFailure();
}

/// Creates the file that is not there yet and writes the content into it; removes it again when
/// the content cannot be written.
void CreateAndWrite(const Text& path, const std::string& target, const FileContent& content) {
  Descriptor file(open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
  if (file.get() < 0) RaiseCreateFailure(path, ErrorText(errno));
  TemporaryFile unfinished(target);
  uint64_t written = 0;
  if (!WriteContent(file.get(), content, &written) || fsync(file.get()) != 0 || !file.Close()) {
    RaiseWriteFailure();
  }
  unfinished.Release();
}

}  // namespace

std::string ReadWholeFile(const Text& path) {
  // Opened without blocking, so that a FIFO or a device cannot stall the run.
  Descriptor file(open(NativeFromText(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) RaiseOpenFailure(path, ErrorText(errno));
  struct stat st;
  if (fstat(file.get(), &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
  if (S_ISDIR(st.st_mode)) RaiseOpenFailure(path, ErrorText(EISDIR));
  if (!S_ISREG(st.st_mode)) RaiseOpenFailure(path, kNotARegularFile);
  // An in-place save of the same file by another run ends before the bytes are read.
  if (!WaitForLock(file.get(), LOCK_SH)) RaiseOpenFailure(path, ErrorText(errno));
  if (fstat(file.get(), &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
  if (st.st_size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes = BufferOf(static_cast<size_t>(st.st_size));
  if (!ReadFully(file.get(), bytes.data(), bytes.size())) RaiseReadFailure();
  return bytes;
}

void ReplaceWholeFile(const Text& path, const FileContent& content) {
  // A write beyond the file size limit must fail the write, not end the process.
  signal(SIGXFSZ, SIG_IGN);
  std::string target = ResolveLinks(NativeFromText(path));
  struct stat existing;
  if (!CheckTarget(path, target, &existing)) {
    if (!ReplaceByRename(target, nullptr, content)) CreateAndWrite(path, target, content);
    return;
  }
  // A rename would leave the file's other names with the old content.
  if (existing.st_nlink == 1 && ReplaceByRename(target, &existing, content)) return;
  WriteInPlace(path, target, content);
}

Text AbsolutePath(const Text& path) {
  std::string native = NativeFromText(path);
  if (native.empty()) return Text();
  if (native[0] != '/') {
    std::vector<char> folder(PATH_MAX);
    while (!getcwd(folder.data(), folder.size())) {
      if (errno != ERANGE) return Text();
      folder.resize(folder.size() * 2);
    }
    native = std::string(folder.data()) + "/" + native;
  }
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= native.size()) {
    size_t slash = native.find('/', start);
    if (slash == std::string::npos) slash = native.size();
    std::string part = native.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string absolute;
  for (const std::string& part : parts) {
    absolute += '/';
    absolute += part;
  }
  if (absolute.empty() || native.back() == '/') absolute.push_back('/');
  return TextFromNative(absolute);
}
