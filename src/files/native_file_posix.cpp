// Files on POSIX systems. There are no share modes here; advisory locks keep a load and an
// in-place save of the same file apart. The save writes a new file beside the user's file and
// renames it over the old one wherever the new file then has everything the old one had (owner,
// group, mode, extended attributes and access lists, its one link); otherwise it writes the file
// in place, with its new length reserved first and the old bytes written back should a write
// still fail. Every system call goes through the seam in system_calls_posix.h.
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <vector>

#include "base/messages.h"
#include "base/path.h"
#include "files/background_flush_posix.h"
#include "files/backup_name.h"
#include "files/file_failures.h"
#include "files/link_walk_posix.h"
#include "files/native_file.h"
#include "files/system_calls_posix.h"

namespace {

constexpr int64_t kMaxFileSize = int64_t{1} << 31;

Text ErrorText(int error) { return TextFromNative(strerror(error)); }

/// The error of a path that names no regular file, which the system has no text for.
constexpr int kNoRegularFile = -1;

SaveOutcome Failed(SaveOutcome::Kind kind, int error = 0) {
  if (error == 0) return {kind, Text(), Text()};
  return {kind, error == kNoRegularFile ? Text(kNotARegularFile) : ErrorText(error), Text()};
}

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
  /// Closes now and tells whether the close succeeded.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return os::close(fd) == 0;
  }

 private:
  int fd_;
};

/// Reads exactly `size` bytes; false (errno set) when the file ends before.
bool ReadFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = os::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;  // the file became shorter while it was read
      return false;
    }
    done += n;
  }
  return true;
}

/// Writes all `pieces` with gathered writes, as many pieces a request as the system takes, and
/// adds the number of bytes written to `*written`. False (errno set) when a write fails.
bool WritePieces(int fd, FileContent::Pieces pieces, uint64_t* written) {
  iovec vectors[IOV_MAX];
  while (!pieces.empty()) {
    size_t count = std::min<size_t>(pieces.size(), IOV_MAX);
    size_t asked = 0;
    for (size_t i = 0; i < count; ++i) {
      vectors[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
      asked += pieces[i].size();
    }
    ssize_t n = asked == 0 ? 0 : os::writev(fd, vectors, static_cast<int>(count));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0 && asked > 0) {
      errno = EIO;
      return false;
    }
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
/// False (errno set) when a write fails.
bool WriteContent(int fd, const FileContent& content, uint64_t* written) {
  return content.WriteTo(
      [fd, written](FileContent::Pieces pieces) { return WritePieces(fd, pieces, written); });
}

// A new file goes to the disk a stretch at a time: as soon as a stretch is written, the system is
// asked to start writing it out, and a thread of its own flushes what was written, while the save
// goes on with the next stretch, so that the flush at the end finds the file on disk but for its
// last stretch. Measured on programs of 48 and 96 MB (the new file's flush timed in runs of
// builds with 1, 2, 4, 8 and 16 MiB stretches, taking turns): 1 to 8 MiB all cut the flush to
// about half, 2 MiB a little more than the others, 16 MiB less. The flushes on their own thread
// cut the rest: on a virtual disk the flush to the host's disk took about 0.6 ms a MB, which the
// request to start writing does not start.
constexpr uint64_t kStretch = uint64_t{2} << 20;

/// Asks the system to start writing the bytes of the open file from `from` up to `to` to disk,
/// without waiting for them. Only a hint, which guarantees nothing: the flush at the end is what
/// counts and reports any failure to write, so a refused hint is no failure.
void StartWritingOut(int fd, uint64_t from, uint64_t to) {
  if (to > from) {
    os::sync_file_range(fd, static_cast<off_t>(from), static_cast<off_t>(to - from),
                        SYNC_FILE_RANGE_WRITE);
  }
}

/// WritePieces for a new file written from its start: the pieces are cut where a stretch ends,
/// and each stretch is handed to the disk as soon as it is written (StartWritingOut), and
/// `flush` asked to flush it.
bool WriteStretches(int fd, FileContent::Pieces pieces, uint64_t* written, BackgroundFlush* flush) {
  std::string_view front;  // what is left of a piece cut where a stretch ends
  while (!front.empty() || !pieces.empty()) {
    const uint64_t end = (*written / kStretch + 1) * kStretch;  // of the stretch being written
    if (!front.empty()) {
      std::string_view head = front.substr(0, end - *written);
      front.remove_prefix(head.size());
      if (!WritePieces(fd, FileContent::Pieces(&head, 1), written)) return false;
    } else {
      // The whole pieces that fit into the stretch, in one go; the next one is cut.
      uint64_t room = end - *written;
      size_t count = 0;
      while (count < pieces.size() && pieces[count].size() <= room) room -= pieces[count++].size();
      if (!WritePieces(fd, pieces.first(count), written)) return false;
      if (count < pieces.size()) front = pieces[count++];
      pieces = pieces.subspan(count);
    }
    if (*written == end) {
      StartWritingOut(fd, end - kStretch, end);
      flush->Request();
    }
  }
  return true;
}

/// Writes `content` to the new file `fd`, from its start, a stretch at a time (WriteStretches),
/// and then hands over the last, shorter stretch too: a save of any size makes the same calls,
/// which the fault tests try on small files (a file of less than a stretch asks `flush` for
/// nothing: the flush at the end comes right after). `*written` counts the bytes that reached
/// the file. False (errno set) when a write or a flush fails.
bool WriteNewFile(int fd, const ContentStream& content, uint64_t* written) {
  BackgroundFlush flush(fd);
  if (!content.WriteTo([fd, written, &flush](FileContent::Pieces pieces) {
        return WriteStretches(fd, pieces, written, &flush);
      })) {
    return false;
  }
  StartWritingOut(fd, *written / kStretch * kStretch, *written);
  if (int error = flush.Finish(); error != 0) {
    errno = error;
    return false;
  }
  return true;
}

/// Takes the advisory lock `operation` (LOCK_SH or LOCK_EX) on the open file, which keeps a load
/// and an in-place save of the same file, or two such saves, from overlapping. Waits for it a
/// few seconds at most; false (errno set) when it cannot be had. A file system without locks
/// (NFS without its lock service) is used without them.
bool WaitForLock(int fd, int operation) {
  constexpr int kAttempts = 500;
  const timespec pause = {0, 20'000'000};  // 20 ms, so 10 s at most
  for (int attempt = 0;; ++attempt) {
    if (os::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || attempt == kAttempts) return false;
    os::nanosleep(&pause, nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading

int64_t Nanoseconds(const timespec& time) {
  return int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev),  static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size), Nanoseconds(st.st_mtim),
          Nanoseconds(st.st_ctim),           static_cast<uint32_t>(st.st_mode & 0777)};
}

/// Whether the file at `target` is still in the state `loaded`, where that is given: saved (as
/// an outcome: go on), changed meanwhile, or the create failure where it cannot be told.
SaveOutcome CheckUnchanged(const std::string& target, const FileStamp* loaded) {
  if (!loaded) return SaveOutcome();
  struct stat now;
  if (os::stat(target.c_str(), &now) != 0) {
    return Failed(errno == ENOENT ? SaveOutcome::kChangedMeanwhile : SaveOutcome::kCreateFailed,
                  errno);
  }
  return StampOf(now) == *loaded ? SaveOutcome() : Failed(SaveOutcome::kChangedMeanwhile);
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
  if (last > first) os::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  bytes.resize(size);
  return bytes;
}

/// A regular file opened for reading, as a load opens it.
class PosixPieceReader : public PieceReader {
 public:
  /// Opens the file at `path`; raises the open failure, or "EReadError" when it is too large.
  explicit PosixPieceReader(const Text& path) : path_(path), file_(Open(path, &target_)) {
    struct stat st;
    // An in-place save of the same file by another run ends before the bytes are read.
    if (!WaitForLock(file_.get(), LOCK_SH)) RaiseOpenFailure(path, ErrorText(errno));
    if (os::fstat(file_.get(), &st) != 0) RaiseOpenFailure(path, ErrorText(errno));
    if (st.st_size >= kMaxFileSize) RaiseTooLargeFailure(path);
    stamp_ = StampOf(st);
    size_ = static_cast<size_t>(st.st_size);
  }

  const FileStamp& stamp() const override { return stamp_; }

  size_t Read(char* buffer, size_t room) override {
    size_t size = std::min(room, size_ - position_);
    if (!ReadFully(file_.get(), buffer, size)) RaiseReadFailure();
    position_ += size;
    return size;
  }

  std::string ReadWhole() override {
    if (position_ != 0 && os::lseek(file_.get(), 0, SEEK_SET) != 0) RaiseReadFailure();
    position_ = 0;
    std::string bytes = BufferOf(size_);
    if (!ReadFully(file_.get(), bytes.data(), bytes.size())) RaiseReadFailure();
    position_ = size_;
    file_.Close();
    return bytes;
  }

  void CheckUnchanged() const override {
    RaiseSaveFailure(path_, ::CheckUnchanged(target_, &stamp_));
  }

 private:
  /// The descriptor of the regular file at `path`, not locked yet; where it lies in `*target`.
  static int Open(const Text& path, std::string* target) {
    if (!FinalTarget(NativeFromText(path), target)) RaiseOpenFailure(path, ErrorText(errno));
    // Opened without blocking, so that a FIFO or a device cannot stall the run; a link put in
    // the file's place since its links were followed is not followed.
    int fd = os::open(target->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, 0);
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

// ---------------------------------------------------------------------------------------------
// Where a save goes

/// Checks what would make the create of `target` fail before anything is written. Gives the
/// existing file's status, if any, in `existing`, and `*exists` says whether there is one.
SaveOutcome CheckTarget(const std::string& target, struct stat* existing, bool* exists) {
  *exists = false;
  if (os::stat(target.c_str(), existing) != 0) {
    return errno == ENOENT ? SaveOutcome() : Failed(SaveOutcome::kCreateFailed, errno);
  }
  if (S_ISDIR(existing->st_mode)) return Failed(SaveOutcome::kCreateFailed, EISDIR);
  if (!S_ISREG(existing->st_mode)) return Failed(SaveOutcome::kCreateFailed, kNoRegularFile);
  // A file without any write permission bit is read-only, also for the superuser.
  if ((existing->st_mode & 0222) == 0) return Failed(SaveOutcome::kCreateFailed, EACCES);
  if (os::access(target.c_str(), W_OK) != 0) return Failed(SaveOutcome::kCreateFailed, errno);
  *exists = true;
  return SaveOutcome();
}

/// Whether this process may give a new file the owner and group of `existing`.
bool MayGiveOwnership(const struct stat& existing) {
  if (geteuid() == 0) return true;
  if (existing.st_uid != geteuid()) return false;
  if (existing.st_gid == getegid()) return true;
  std::vector<gid_t> groups(NGROUPS_MAX);
  int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, existing.st_gid) !=
                          groups.begin() + count;
}

// ---------------------------------------------------------------------------------------------
// Replace by rename

/// `name` in the folder `folder`, a folder part with its trailing slash or empty for the working
/// folder, which is where a bare relative name lies.
std::string InFolder(std::string_view folder, std::string_view name) {
  return (folder.empty() ? std::string("./") : std::string(folder)) + std::string(name);
}

/// Flushes the names in `folder` (a folder part, as for InFolder) to disk: a rename, create or
/// removal there survives a power cut only then. False (errno set) when it fails. A file system
/// that has no flush for folders (a network share, many FUSE file systems) refuses it as
/// unsupported: its names are then as lasting as it makes them, and that is no failure.
bool SyncFolder(std::string_view folder) {
  int fd = os::open(InFolder(folder, ".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  bool synced = os::fsync(fd) == 0 || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOTSUP;
  int error = errno;
  os::close(fd);
  errno = error;
  return synced;
}

/// A file that the save made, by a name and by which file it is. Another program may remove or
/// replace a name in a shared folder at any moment, so a name counts as the save's own only
/// while it names that very file, and only then is it removed: a file that the save did not
/// make is never removed.
struct MadeFile {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  /// The file held open while the save trusts its name, so that no other file can take its
  /// number meanwhile; where null, the one who made it holds it.
  std::shared_ptr<Descriptor> held;

  /// What `name` names: this file, another one or nothing, or unknown where it cannot be looked
  /// at. Keeps errno.
  enum Naming { kThisFile, kNotThisFile, kUnknown };
  Naming NamingOf(const std::string& name) const {
    int error = errno;
    struct stat st;
    Naming naming = kUnknown;
    if (os::lstat(name.c_str(), &st) == 0) {
      naming = st.st_dev == device && st.st_ino == inode ? kThisFile : kNotThisFile;
    } else if (errno == ENOENT) {
      naming = kNotThisFile;
    }
    errno = error;
    return naming;
  }
  /// Whether `name` is seen to name this file. Keeps errno.
  bool NamedBy(const std::string& name) const { return NamingOf(name) == kThisFile; }
  /// Removes the name `name` where it names this file; where that cannot be told, it stays.
  /// Keeps errno.
  void RemoveName(const std::string& name) const {
    int error = errno;
    if (NamedBy(name)) os::unlink(name.c_str());
    errno = error;
  }
};

/// Removes the file it holds when it goes out of scope, unless it was kept.
class FileToRemove {
 public:
  explicit FileToRemove(MadeFile file) : file_(std::move(file)) {}
  ~FileToRemove() {
    if (!file_.path.empty()) file_.RemoveName(file_.path);
  }
  FileToRemove(const FileToRemove&) = delete;
  FileToRemove& operator=(const FileToRemove&) = delete;
  const MadeFile& file() const { return file_; }
  const std::string& path() const { return file_.path; }
  void Keep() { file_.path.clear(); }

 private:
  MadeFile file_;
};

/// A new file of a short name of its own in `folder` (a folder part), created with `mode` (which
/// the umask or the folder's default access list then narrow, as for any new file), or -1 (errno
/// set). Gives its name and which file it is in `*made`. The name is short enough for every file
/// system, whatever the name of the file it stands in for.
int CreateTemporaryFile(std::string_view folder, mode_t mode, MadeFile* made) {
  uint64_t number = static_cast<uint64_t>(getpid()) << 24 ^
                    std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt, number += 7919) {
    std::string name = InFolder(folder, ".prune-" + HexDigits(number & 0xFFFFFF, 6));
    int fd = os::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return -1;
    struct stat st;
    if (os::fstat(fd, &st) != 0) {
      // Made a moment ago by an exclusive create: the name is surely still the save's own.
      int error = errno;
      os::unlink(name.c_str());
      os::close(fd);
      errno = error;
      return -1;
    }
    *made = {std::move(name), st.st_dev, st.st_ino, nullptr};
    return fd;
  }
  return -1;
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

/// The extended attributes (access lists among them) of the file at `path` or, where `path` is
/// null, of the open file `fd`, as name and value, sorted. False (errno set) when they cannot be
/// read, ENOTSUP where the file system has none.
bool ExtendedAttributes(const char* path, int fd, Attributes* attributes) {
  attributes->clear();
  ssize_t size = path ? os::listxattr(path, nullptr, 0) : os::flistxattr(fd, nullptr, 0);
  if (size < 0) return false;
  std::vector<char> names(size);
  size = path ? os::listxattr(path, names.data(), names.size())
              : os::flistxattr(fd, names.data(), names.size());
  if (size < 0) return false;
  for (const char* name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
    ssize_t length =
        path ? os::getxattr(path, name, nullptr, 0) : os::fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return false;
    std::string value(length, '\0');
    length = path ? os::getxattr(path, name, value.data(), value.size())
                  : os::fgetxattr(fd, name, value.data(), value.size());
    if (length < 0) return false;
    value.resize(length);
    attributes->emplace_back(name, std::move(value));
  }
  std::sort(attributes->begin(), attributes->end());
  return true;
}

/// Whether a call of ExtendedAttributes that gave `listed` tells the attributes: it read them,
/// or the file system has none at all.
bool AttributesTold(bool listed) { return listed || errno == ENOTSUP; }

/// Makes the new file at `fd` what the existing file `target` is apart from its content: owner,
/// group, permission bits and extended attributes, and none that it lacks (such as an access
/// list that the new file took from its folder). Then compares: false unless they are equal.
bool TakeOverAttributes(int fd, const std::string& target, const struct stat& existing) {
  Attributes wanted, own;
  bool target_has = ExtendedAttributes(target.c_str(), -1, &wanted);
  if (!AttributesTold(target_has)) return false;
  if (os::fchown(fd, existing.st_uid, existing.st_gid) != 0) return false;
  if (ExtendedAttributes(nullptr, fd, &own)) {
    for (const auto& attribute : own) {
      const std::string& name = attribute.first;
      auto same_name = [&name](const auto& other) { return other.first == name; };
      bool kept = std::find_if(wanted.begin(), wanted.end(), same_name) != wanted.end();
      if (!kept && os::fremovexattr(fd, name.c_str()) != 0) return false;
    }
  }
  for (const auto& [name, value] : wanted) {
    if (os::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  // After the owner and the access list: both can clear or change permission bits.
  if (os::fchmod(fd, existing.st_mode & 07777) != 0) return false;
  struct stat now;
  if (os::fstat(fd, &now) != 0) return false;
  bool new_has = ExtendedAttributes(nullptr, fd, &own);
  if (!AttributesTold(new_has) || new_has != target_has) return false;
  return now.st_uid == existing.st_uid && now.st_gid == existing.st_gid &&
         (now.st_mode & 07777) == (existing.st_mode & 07777) && own == wanted;
}

/// Gives the file back the set-user-ID and set-group-ID bits of `before` that a write by this
/// process cleared, where the process owns the file or is the superuser; for anybody else the
/// system keeps them cleared, as after every write by another user. False (errno set) only when
/// a call fails.
bool GiveBackSetIdBits(int fd, const struct stat& before) {
  if ((before.st_mode & (S_ISUID | S_ISGID)) == 0) return true;
  struct stat now;
  if (os::fstat(fd, &now) != 0) return false;
  if ((now.st_mode & 07777) == (before.st_mode & 07777)) return true;
  if (geteuid() != 0 && geteuid() != now.st_uid) return true;
  return os::fchmod(fd, before.st_mode & 07777) == 0;
}

/// The extended attribute that holds a file's capabilities, which the system removes on every
/// write to the file.
constexpr char kCapabilities[] = "security.capability";

/// What a write to a file clears, which a save in place gives back: the set-ID bits of its mode
/// and its capabilities.
struct Privileges {
  struct stat before = {};
  bool has_capabilities = false;
  std::string capabilities;
};

/// The privileges of the open file `fd`, whose status is `st`. False (errno set) when they
/// cannot be read.
bool ReadPrivileges(int fd, const struct stat& st, Privileges* privileges) {
  privileges->before = st;
  std::string value(64, '\0');  // the largest form the system writes takes 24 bytes
  ssize_t length = os::fgetxattr(fd, kCapabilities, value.data(), value.size());
  if (length < 0 && errno == ENODATA) return true;
  // A file system without extended attributes, where listing them says so too.
  if (length < 0 && errno == ENOTSUP) return os::flistxattr(fd, nullptr, 0) < 0 && errno == ENOTSUP;
  if (length < 0) return false;
  value.resize(length);
  privileges->has_capabilities = true;
  privileges->capabilities = std::move(value);
  return true;
}

/// Gives the file back what the writes of this process cleared: the set-ID bits as
/// GiveBackSetIdBits does, and the capabilities where the process is the superuser, the one
/// who may set them (for anybody else they stay removed, as after every write by another user).
/// False (errno set) only when a call fails.
bool GiveBackPrivileges(int fd, const Privileges& kept) {
  if (!GiveBackSetIdBits(fd, kept.before)) return false;
  if (!kept.has_capabilities || geteuid() != 0) return true;
  return os::fsetxattr(fd, kCapabilities, kept.capabilities.data(), kept.capabilities.size(), 0) ==
         0;
}

/// Whether the file system of the open file copies every block it overwrites (btrfs, ZFS,
/// bcachefs): there, overwriting a file in place needs as much free room as a second copy.
bool CopiesOnWrite(int fd) {
  constexpr long kBtrfs = 0x9123683E, kZfs = 0x2FC12FC1, kBcachefs = 0xCA451A4E;
  struct statfs fs;
  if (os::fstatfs(fd, &fs) != 0) return true;  // unknown: no bet on room that may not be there
  long type = static_cast<long>(fs.f_type);
  return type == kBtrfs || type == kZfs || type == kBcachefs;
}

/// Whether `error` says that there is no room (on the disk, in a quota, in a file).
bool OutOfRoom(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

/// The new content goes to a new file beside `target`, flushed, then renamed over it, and the
/// folder flushed (a file not there yet is created asking for `new_file_mode`): a run killed or a
/// power cut at any moment leaves the old content or the new, never a mix. For an existing file
/// (`existing`), takes another way, with nothing changed, where that would not keep what the file
/// has or there is no room for a second copy; `*no_room` then gives the error that said so (the
/// way in place weighs it). A file that is not there yet has no other way: it only ever appears
/// whole under its name.
SaveOutcome ReplaceByRename(const std::string& target, const struct stat* existing,
                            const ContentStream& content, const FileStamp* loaded,
                            mode_t new_file_mode, int* no_room) {
  auto another_way = [existing, no_room](int error) {
    if (existing && OutOfRoom(error)) *no_room = error;
    return Failed(existing ? SaveOutcome::kTryInPlace : SaveOutcome::kCreateFailed, error);
  };
  auto write_failed = [existing, &another_way](int error) {
    return existing && OutOfRoom(error) ? another_way(error)
                                        : Failed(SaveOutcome::kWriteFailed, error);
  };
  MadeFile made;
  std::string_view folder = FolderPart(target);
  // For this user alone until it has the file's own mode: others may open it only then.
  Descriptor file(CreateTemporaryFile(folder, existing ? 0600 : new_file_mode, &made));
  if (file.get() < 0) return another_way(errno);
  FileToRemove temporary(made);
  uint64_t written = 0;
  if (!WriteNewFile(file.get(), content, &written)) return write_failed(errno);
  // After the last write, which removes set-ID bits and capabilities, and before the flush, so
  // that the new file is flushed with all of them.
  if (existing && !TakeOverAttributes(file.get(), target, *existing)) return another_way(errno);
  if (os::fsync(file.get()) != 0) return write_failed(errno);
  // Content read while it was written stands for its file only where nobody wrote that file
  // meanwhile: a .tap, too, is never a mix of two versions of the program.
  content.CheckSource();
  if (SaveOutcome unchanged = CheckUnchanged(target, loaded);
      unchanged.kind != SaveOutcome::kSaved) {
    return unchanged;
  }
  // A rename moves whatever bears the temporary name by then, which another program may have
  // removed or replaced: it is judged by what the file's name names afterwards, while the new
  // file is still open (no other file can take its number then). One that reports a failure
  // after it was done (a network file system may) counts as done where that is the new file; a
  // temporary name gone says nothing. Refused (in a sticky folder, for a file of another owner)
  // or without room, the file is written in place; any other failure fails.
  if (made.NamingOf(made.path) == MadeFile::kNotThisFile) {
    return Failed(SaveOutcome::kCreateFailed, ENOENT);
  }
  if (os::rename(made.path.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (!made.NamedBy(target)) {
      if (error == EPERM || error == EACCES || OutOfRoom(error)) return another_way(error);
      return Failed(SaveOutcome::kCreateFailed, error);
    }
  } else if (made.NamingOf(target) == MadeFile::kNotThisFile) {
    return Failed(SaveOutcome::kCreateFailed, ENOENT);
  }
  temporary.Keep();
  // Not on disk yet, the rename could be undone by a power cut: not a success. The new content
  // is whole in place all the same, and a second run over it changes nothing. A close that
  // fails after the flush says the same.
  if (!file.Close()) return Failed(SaveOutcome::kNotYetLasting, errno);
  if (!SyncFolder(folder)) return Failed(SaveOutcome::kNotYetLasting, errno);
  return SaveOutcome();
}

// ---------------------------------------------------------------------------------------------
// Write in place, with a backup

/// The user's own folder for backups that cannot lie beside the program, with its trailing
/// slash: $XDG_STATE_HOME/prune, else ~/.local/state/prune. Empty where neither is set.
std::string StateFolder() {
  const char* state = getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/prune/";
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/prune/";
  return std::string();
}

/// Makes the folder `folder` (with its trailing slash) and those on its way, each new one for
/// this user alone and flushed into its parent. False (errno set) when it cannot.
bool MakeFolders(const std::string& folder) {
  for (size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    std::string path = folder.substr(0, end);
    if (os::mkdir(path.c_str(), 0700) == 0) {
      if (!SyncFolder(FolderPart(path))) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  return true;
}

/// Gives the backup `temporary` the first backup name in `folder` that no file has: an earlier
/// run's backup may be the only whole copy of a program, so none is ever replaced. Renames
/// without replacing; where the file system refuses that, links the new name and removes the
/// temporary one. A name counts as given only where it names the backup itself: a naming
/// reported as failed may have been done all the same (a network file system may say so), but a
/// temporary name that another program removed names nothing, and a backup name then belongs to
/// whoever made it. Gives the name in `*path`; false (errno set) when none could be given.
bool GiveBackupName(const MadeFile& temporary, std::string_view folder, std::string_view name,
                    std::string* path) {
  constexpr int kAttempts = 100;
  const char* from = temporary.path.c_str();
  // A rename or a link takes whatever bears the temporary name by then.
  if (temporary.NamingOf(temporary.path) == MadeFile::kNotThisFile) {
    errno = ENOENT;
    return false;
  }
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    *path = InFolder(folder, BackupName<char>(name, attempt));
    if (os::renameat2(AT_FDCWD, from, AT_FDCWD, path->c_str(), RENAME_NOREPLACE) == 0) {
      // Renamed was whatever bore the temporary name by then.
      if (temporary.NamingOf(*path) != MadeFile::kNotThisFile) return true;
      errno = ENOENT;
      return false;
    }
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      return temporary.NamedBy(*path);
    }
    // A link names whatever file bears the temporary name by then: the new name is the save's
    // own, but it holds the backup only where the temporary name still did.
    if (os::link(from, path->c_str()) != 0) {
      if (errno == EEXIST) continue;
      if (!temporary.NamedBy(*path)) return false;
    } else if (temporary.NamingOf(*path) == MadeFile::kNotThisFile) {
      os::unlink(path->c_str());
      errno = ENOENT;
      return false;
    }
    // A temporary name that stays is a second name of a whole backup, no partial file.
    temporary.RemoveName(temporary.path);
    return true;
  }
  errno = EEXIST;
  return false;
}

/// Writes `old` to a new backup in `folder`: under a temporary name, flushed, and only then given
/// its backup name and its folder flushed, so that a backup's name only ever holds the whole old
/// content. Adds it to `made` once its name holds the flushed content (its name may still be
/// lost to a power cut, but never worse than no backup); true when the name is flushed too.
bool BackupIn(std::string_view folder, std::string_view name, std::string_view old,
              std::vector<MadeFile>* made) {
  MadeFile backup;
  // Mode 0600: nobody but this user, who has just read the program, reads the backup.
  Descriptor file(CreateTemporaryFile(folder, 0600, &backup));
  if (file.get() < 0) return false;
  FileToRemove temporary(backup);
  uint64_t written = 0;
  ContiguousContent content(old);
  if (!WriteContent(file.get(), content, &written) || os::fsync(file.get()) != 0) return false;
  std::string path;
  if (!GiveBackupName(backup, folder, name, &path)) return false;
  temporary.Keep();
  backup.path = std::move(path);
  backup.held = std::make_shared<Descriptor>(file.Release());
  made->push_back(std::move(backup));
  return SyncFolder(folder);
}

/// Whole copies of the old content, flushed before the first byte of the file changes: beside
/// the file, else (or also, where the name beside it was not flushed) in the user's state folder.
/// The one to name in a failure last; none where no backup could be written anywhere: the file
/// is then written in place all the same.
std::vector<MadeFile> MakeBackups(const std::string& target, std::string_view old) {
  std::string_view name = std::string_view(target).substr(FolderPart(target).size());
  std::vector<MadeFile> made;
  if (BackupIn(FolderPart(target), name, old, &made)) return made;
  std::string state = StateFolder();
  if (!state.empty() && MakeFolders(state)) BackupIn(state, name, old, &made);
  return made;
}

/// Reserves room for `new_size` bytes in the open file of `old_size` bytes, so that a full disk
/// or a quota shows before any of its bytes change: the whole new length, since a file system
/// that copies on write needs new room for every byte overwritten. Where the file system cannot
/// reserve without growing the file, it grows it; `*grown` then says so.
bool ReserveRoom(int fd, off_t old_size, off_t new_size, bool* grown) {
  if (new_size == 0) return true;
#if defined(FALLOC_FL_KEEP_SIZE)
  if (os::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) == 0) return true;
  if (errno != EOPNOTSUPP) return false;
#endif
  *grown = new_size > old_size;
  int error = os::posix_fallocate(fd, 0, new_size);
  errno = error;
  return error == 0;
}

/// Makes the open file `old` again and flushes it: its length, its first `overwritten` bytes,
/// and every later byte that now differs from the old one (a write that failed may have changed
/// some all the same, and a byte written again could fail anew, past a file size limit), with
/// what the writes cleared given back before the flush. False when it cannot.
bool RestoreOldContent(int fd, std::string_view old, uint64_t overwritten, const Privileges& kept) {
  std::string_view head = old.substr(0, std::min<uint64_t>(overwritten, old.size()));
  uint64_t written = 0;
  if (os::ftruncate(fd, static_cast<off_t>(old.size())) != 0 || os::lseek(fd, 0, SEEK_SET) != 0 ||
      !WritePieces(fd, FileContent::Pieces(&head, 1), &written)) {
    return false;
  }
  std::string_view rest = old.substr(head.size());
  std::string now(rest.size(), '\0');
  if (!ReadFully(fd, now.data(), now.size())) return false;
  auto [first, unused] = std::mismatch(rest.begin(), rest.end(), now.begin());
  if (first != rest.end()) {
    size_t from = first - rest.begin();
    size_t to = rest.size();
    while (to > from && rest[to - 1] == now[to - 1]) --to;
    std::string_view differing = rest.substr(from, to - from);
    if (os::lseek(fd, static_cast<off_t>(head.size() + from), SEEK_SET) < 0 ||
        !WritePieces(fd, FileContent::Pieces(&differing, 1), &written)) {
      return false;
    }
  }
  return GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0;
}

/// Overwrites the open file, whose status and privileges were `kept` and whose content `old`,
/// with `content`: room reserved, the bytes written, the file cut to its new length, what the
/// writes cleared given back, and flushed. Should any of it fail, the old bytes are written back,
/// the old length restored and what the writes cleared given back.
SaveOutcome Overwrite(int fd, const Privileges& kept, std::string_view old,
                      const FileContent& content) {
  const off_t new_size = static_cast<off_t>(content.Size());
  bool grown = false;
  if (!ReserveRoom(fd, kept.before.st_size, new_size, &grown)) {
    int error = errno;
    // A reservation that failed may have grown the file, or cleared what a write clears.
    bool restored = grown ? RestoreOldContent(fd, old, 0, kept)
                          : GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0;
    return Failed(restored ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed, error);
  }
  // Until the cut, the bytes written so far surely differ from the old ones; after it, any may.
  // What the writes cleared goes back before the flush: no power cut leaves the new content
  // without it.
  uint64_t overwritten = 0;
  if (WriteContent(fd, content, &overwritten) &&
      (overwritten = UINT64_MAX, os::ftruncate(fd, new_size) == 0) &&
      GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0) {
    return SaveOutcome();
  }
  int error = errno;
  if (!RestoreOldContent(fd, old, overwritten, kept)) return Failed(SaveOutcome::kRestoreFailed);
  return Failed(SaveOutcome::kWriteFailed, error);
}

/// Writes the content into the existing file itself, which keeps everything the file has: its
/// owner, group, mode, links, extended attributes and name. The old content, read beforehand,
/// goes to a backup first, which stays only where it is the one whole copy left; the set-ID bits
/// and capabilities that the writes clear are given back on every way out. `no_room`, where not
/// 0, is the error that left no room for a second copy of the file.
SaveOutcome WriteInPlace(const std::string& target, const FileContent& content,
                         const FileStamp* loaded, int no_room) {
  // The links on the way were followed where they may be; one put in the file's place since is
  // not.
  Descriptor file(os::open(target.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW, 0));
  if (file.get() < 0) return Failed(SaveOutcome::kCreateFailed, errno);
  // A file system that copies every block it overwrites needs that room in place too.
  if (no_room != 0 && CopiesOnWrite(file.get())) return Failed(SaveOutcome::kWriteFailed, no_room);
  struct stat st;
  if (!WaitForLock(file.get(), LOCK_EX) || os::fstat(file.get(), &st) != 0) {
    return Failed(SaveOutcome::kCreateFailed, errno);
  }
  if (loaded && StampOf(st) != *loaded) return Failed(SaveOutcome::kChangedMeanwhile);
  std::string old(static_cast<size_t>(st.st_size), '\0');
  if (!ReadFully(file.get(), old.data(), old.size()) || os::lseek(file.get(), 0, SEEK_SET) != 0) {
    return Failed(SaveOutcome::kCreateFailed, errno);
  }
  Privileges kept;
  if (!ReadPrivileges(file.get(), st, &kept)) return Failed(SaveOutcome::kCreateFailed, errno);
  std::vector<MadeFile> backups = MakeBackups(target, old);
  // Another program may have written the file while the backup was made (through another of
  // its names, which no lock holds off): its write is kept, and the backups go, untouched as the
  // file is.
  const FileStamp read = StampOf(st);
  if (SaveOutcome unchanged = CheckUnchanged(target, &read);
      unchanged.kind != SaveOutcome::kSaved) {
    for (const MadeFile& backup : backups) backup.RemoveName(backup.path);
    return unchanged;
  }
  SaveOutcome outcome = Overwrite(file.get(), kept, old, content);
  if (outcome.kind == SaveOutcome::kRestoreFailed) {
    if (!backups.empty()) outcome.backup = TextFromNative(backups.back().path);
    return outcome;
  }
  // Only now that the file's new content or its old one is flushed.
  for (const MadeFile& backup : backups) backup.RemoveName(backup.path);
  return outcome;
}
/// Whether the existing file `target`, whose status is `existing`, was planted in a shared folder
/// by somebody else. False (errno set) where the folder cannot be looked at.
bool PlantedFile(const std::string& target, const struct stat& existing, bool* planted) {
  struct stat folder;
  std::string_view part = FolderPart(target);
  if (os::stat(part.empty() ? "." : std::string(part).c_str(), &folder) != 0) return false;
  *planted = PlantedInSharedFolder(existing.st_uid, folder);
  return true;
}

/// Saves `content` as the file at `path` in the way that keeps everything the file has; over
/// the file loaded where `loaded` is given, else as a file of the run's own making. The way in
/// place writes `in_place`, the same content known whole; where that is null, the save ends with
/// kTryInPlace there instead, nothing changed.
SaveOutcome Save(const std::string& path, const ContentStream& content, const FileContent* in_place,
                 const FileStamp* loaded, mode_t new_file_mode) {
  std::string target;
  if (!FinalTarget(path, &target)) return Failed(SaveOutcome::kCreateFailed, errno);
  struct stat existing;
  bool exists = false;
  if (SaveOutcome checked = CheckTarget(target, &existing, &exists);
      checked.kind != SaveOutcome::kSaved) {
    return checked;
  }
  if (!exists && loaded) return Failed(SaveOutcome::kChangedMeanwhile);  // removed meanwhile
  int no_room = 0;
  if (!exists) return ReplaceByRename(target, nullptr, content, nullptr, new_file_mode, &no_room);
  // A file of the run's own making (the .tap) that somebody else put in a shared folder first
  // is theirs to read: it gets nothing. The program the user named is the user's choice.
  bool planted = false;
  if (!loaded && !PlantedFile(target, existing, &planted)) {
    return Failed(SaveOutcome::kCreateFailed, errno);
  }
  if (planted) return Failed(SaveOutcome::kCreateFailed, EACCES);
  // A rename would leave the file's other names with the old content, and a new file that
  // cannot be given the owner would take the file from its owner.
  if (existing.st_nlink == 1 && MayGiveOwnership(existing)) {
    SaveOutcome renamed =
        ReplaceByRename(target, &existing, content, loaded, new_file_mode, &no_room);
    if (renamed.kind != SaveOutcome::kTryInPlace) return renamed;
  }
  if (!in_place) return Failed(SaveOutcome::kTryInPlace);
  return WriteInPlace(target, *in_place, loaded, no_room);
}

/// Save, for the save's public entries: `new_file_permissions` are the program's.
SaveOutcome SaveAs(const Text& path, const ContentStream& content, const FileContent* in_place,
                   const FileStamp* loaded, uint32_t new_file_permissions) {
  // A write beyond the file size limit must fail the write, not end the process.
  signal(SIGXFSZ, SIG_IGN);
  // The user who writes the new file may write it again: a read-only program's next run too.
  mode_t new_file_mode = (static_cast<mode_t>(new_file_permissions) & 0777) | S_IWUSR;
  return Save(NativeFromText(path), content, in_place, loaded, new_file_mode);
}

}  // namespace

std::unique_ptr<PieceReader> OpenInPieces(const Text& path) {
  return std::make_unique<PosixPieceReader>(path);
}

std::string ReadWholeFile(const Text& path, FileStamp* stamp) {
  PosixPieceReader reader(path);
  if (stamp) *stamp = reader.stamp();
  return reader.ReadWhole();
}

void ReplaceWholeFile(const Text& path, const FileContent& content, const FileStamp* loaded,
                      uint32_t new_file_permissions) {
  RaiseSaveFailure(path, SaveAs(path, content, &content, loaded, new_file_permissions));
}

bool ReplaceByNewFile(const Text& path, const ContentStream& content, const FileStamp* loaded,
                      uint32_t new_file_permissions) {
  SaveOutcome outcome = SaveAs(path, content, nullptr, loaded, new_file_permissions);
  if (outcome.kind == SaveOutcome::kTryInPlace) return false;
  RaiseSaveFailure(path, outcome);
  return true;
}

Text AbsolutePath(const Text& path) {
  std::string native = NativeFromText(path);
  if (native.empty()) return Text();
  if (native[0] != '/') {
    std::vector<char> folder(PATH_MAX);
    while (!os::getcwd(folder.data(), folder.size())) {
      if (errno != ERANGE) return Text();
      folder.resize(folder.size() * 2);
    }
    native = std::string(folder.data()) + "/" + native;
  }
  // The system goes back from where a link leads: a ".." after one stays.
  return FoldedPath(TextFromNative(native), [](TextView path) {
    struct stat st;
    return os::lstat(NativeFromText(Text(path)).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  });
}
