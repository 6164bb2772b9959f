// Files on POSIX systems. There are no share modes here; instead the save never writes into the
// user's file: it writes a new file beside it and renames that over the old one.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

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

/// Writes all `pieces` with gathered writes, as many pieces a request as the system takes.
bool WritePieces(int fd, FileContent::Pieces pieces) {
  std::vector<iovec> vectors;
  vectors.reserve(std::min<size_t>(pieces.size(), IOV_MAX));
  while (!pieces.empty()) {
    vectors.clear();
    for (size_t i = 0; i < pieces.size() && vectors.size() < IOV_MAX; ++i) {
      vectors.push_back({const_cast<char*>(pieces[i].data()), pieces[i].size()});
    }
    ssize_t n = writev(fd, vectors.data(), static_cast<int>(vectors.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 && !vectors.empty() && pieces.size() > 0) {
      // Nothing written: only a failure unless every piece asked for was empty.
      size_t asked = 0;
      for (const iovec& v : vectors) asked += v.iov_len;
      if (asked > 0 || n < 0) return false;
    }
    // Steps past what was written; a piece written in part is written on from where it stopped.
    size_t written = n > 0 ? static_cast<size_t>(n) : 0;
    size_t done = 0;
    while (done < vectors.size() && written >= vectors[done].iov_len) {
      written -= vectors[done].iov_len;
      ++done;
    }
    if (done < vectors.size() && written > 0) {
      std::string_view rest = pieces[done].substr(written);
      if (!WritePieces(fd, FileContent::Pieces(&rest, 1))) return false;
      ++done;
    }
    pieces = pieces.subspan(done);
  }
  return true;
}

bool WriteContent(int fd, const FileContent& content) {
  return content.WriteTo([fd](FileContent::Pieces pieces) { return WritePieces(fd, pieces); });
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

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// Checks what would make the create of `target` fail before anything is written; raises the
/// create failure for `path`. Returns the existing file's status, if any, in `existing`.
bool CheckTarget(const Text& path, const std::string& target, struct stat* existing) {
  if (stat(target.c_str(), existing) != 0) {
    if (errno == ENOENT) return false;
    RaiseCreateFailure(path, ErrorText(errno));
  }
  if (S_ISDIR(existing->st_mode)) RaiseCreateFailure(path, ErrorText(EISDIR));
  if (!S_ISREG(existing->st_mode)) RaiseCreateFailure(path, u"Keine reguläre Datei");
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

}  // namespace

std::string ReadWholeFile(const Text& path) {
  // Opened without blocking, so that a FIFO or a device cannot stall the run.
  Descriptor file(open(NativeFromText(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) RaiseOpenFailure(path, ErrorText(errno));
  struct stat st;
  if (fstat(file.get(), &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
  if (S_ISDIR(st.st_mode)) RaiseOpenFailure(path, ErrorText(EISDIR));
  if (!S_ISREG(st.st_mode)) RaiseOpenFailure(path, u"Keine reguläre Datei");
  if (st.st_size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  if (!ReadFully(file.get(), bytes.data(), bytes.size())) RaiseReadFailure();
  return bytes;
}

void ReplaceWholeFile(const Text& path, const FileContent& content) {
  // A write beyond the file size limit must fail the write, not end the process.
  signal(SIGXFSZ, SIG_IGN);
  std::string target = ResolveLinks(NativeFromText(path));
  struct stat existing;
  bool exists = CheckTarget(path, target, &existing);

  std::string pattern = FolderOf(target) + "/." + NameOf(target) + ".prune-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  Descriptor file(mkostemp(name.data(), O_CLOEXEC));
  if (file.get() < 0) RaiseCreateFailure(path, ErrorText(errno));
  TemporaryFile temporary(name.data());

  if (exists) {
    fchmod(file.get(), existing.st_mode & 07777);
    if (fchown(file.get(), existing.st_uid, existing.st_gid) != 0) {
      // Only the superuser may give a file away; the owner keeps the file either way.
    }
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(file.get(), 0666 & ~mask);
  }
  if (!WriteContent(file.get(), content) || fsync(file.get()) != 0 || !file.Close()) {
    RaiseWriteFailure();
  }
  if (rename(temporary.path().c_str(), target.c_str()) != 0) {
    RaiseCreateFailure(path, ErrorText(errno));
  }
  temporary.Release();
  SyncFolder(FolderOf(target));
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
