// Every system call that a load and a save make, made to fail in turn with every error a file
// system gives, in every situation that chooses another way of saving, to depth two, and every
// state that a power cut may leave on the way. After each run the file is whole (the old content
// or the new) and keeps everything else it had, and nothing is left beside it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "base/failure.h"
#include "base/path.h"
#include "files/read.h"
#include "files/system_calls_posix.h"
#include "testing/fault_matrix.h"
#include "testing/save_contents.h"
#include "testing/system_call_faults.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

// The system's own functions.
namespace system {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace system

// What the replacements below call for the real thing: the system's functions, or the recorders
// that make them and note what they changed.
namespace real {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace real

using ::PartlyDone;     // the calls without a partial form
using ::ShortTransfer;  // the calls without a short form

/// A short transfer: at most half of what was asked, at least one byte.
ssize_t ShortTransfer(ssize_t (*call)(int, void*, size_t), int fd, void* buffer, size_t size) {
  return call(fd, buffer, size > 1 ? size / 2 : size);
}
ssize_t ShortTransfer(ssize_t (*call)(int, const iovec*, int), int fd, const iovec* vectors,
                      int count) {
  int first = 0;
  while (first < count && vectors[first].iov_len == 0) ++first;
  if (first == count) return call(fd, vectors, count);
  iovec part = vectors[first];
  part.iov_len = part.iov_len > 1 ? part.iov_len / 2 : 1;
  return call(fd, &part, 1);
}
/// A write done in part before it fails.
void PartlyDone(ssize_t (*call)(int, const iovec*, int), int fd, const iovec* vectors, int count) {
  ShortTransfer(call, fd, vectors, count);
}
void ReportError(int error) { errno = error; }
constexpr int kEffectError = EIO;

// A replacement for each call: the real one, unless the fault plan makes this one fail.
namespace faulty {
PRUNE_SYSTEM_CALLS(PRUNE_FAULTY_CALL)
}  // namespace faulty

// ---------------------------------------------------------------------------------------------
// What the calls do, recorded: for the power-cut model, and as events for the promises that lie
// in the order of the calls.

/// The model that the recorders feed, while one stands.
PowerCutModel* model = nullptr;
/// What happened to files, in order, each with the name of the file: reads, writes, flushes,
/// locks, reservations, renames and removals.
std::vector<std::string> events;

/// The files that the recorded run made, by their inodes.
std::set<ino_t> made_files;

/// `path` with its folder resolved to the real, absolute one; the name stays as it is.
std::string Canonical(const std::string& path) {
  std::string folder(FolderPart(path));
  char resolved[PATH_MAX];
  if (!realpath(folder.empty() ? "." : folder.c_str(), resolved)) return path;
  std::string name = path.substr(folder.size());
  return std::string(resolved) + (std::string(resolved) == "/" ? "" : "/") + name;
}

/// The path of the file open as `fd`.
std::string PathOf(int fd) {
  char path[PATH_MAX];
  ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  return length > 0 ? std::string(path, length) : std::string();
}

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

/// The model's id of each file by its inode: a new one for each file made, since the system may
/// give a new file the inode of one just removed.
std::map<ino_t, PowerCutModel::FileId> ids;

PowerCutModel::FileId NewId(ino_t inode) {
  static PowerCutModel::FileId last = 0;
  return ids[inode] = ++last;
}

PowerCutModel::FileId IdOf(int fd) {
  struct stat st;
  if (system::fstat(fd, &st) != 0) return 0;
  auto known = ids.find(st.st_ino);
  return known != ids.end() ? known->second : NewId(st.st_ino);
}

/// A mode as its octal digits.
std::string Octal(mode_t mode) {
  std::ostringstream digits;
  digits << std::oct << (mode & 07777);
  return digits.str();
}

int RecordedOpen(const char* path, int flags, mode_t mode) {
  struct stat st;
  bool existed = system::lstat(path, &st) == 0;
  int fd = system::open(path, flags, mode);
  struct stat made;
  if (fd >= 0 && !existed && (flags & O_CREAT) && system::fstat(fd, &made) == 0) {
    // Its mode as it is made, before anyone could open it.
    events.push_back("made " + NameOf(path) + " " + Octal(made.st_mode));
    made_files.insert(made.st_ino);
    if (model) model->Create(Canonical(path), NewId(made.st_ino));
  }
  return fd;
}

ssize_t RecordedRead(int fd, void* buffer, size_t size) {
  events.push_back("read " + NameOf(PathOf(fd)));
  return system::read(fd, buffer, size);
}

ssize_t RecordedWritev(int fd, const iovec* vectors, int count) {
  off_t at = system::lseek(fd, 0, SEEK_CUR);
  ssize_t written = system::writev(fd, vectors, count);
  events.push_back("write " + NameOf(PathOf(fd)));
  if (written <= 0 || !model) return written;
  std::string bytes;
  for (int i = 0; i < count && bytes.size() < static_cast<size_t>(written); ++i) {
    bytes.append(static_cast<const char*>(vectors[i].iov_base), vectors[i].iov_len);
  }
  bytes.resize(written);
  model->Write(IdOf(fd), at, bytes);
  return written;
}

int RecordedFtruncate(int fd, off_t length) {
  int result = system::ftruncate(fd, length);
  if (result == 0) events.push_back("truncate " + NameOf(PathOf(fd)));
  if (result == 0 && model) model->Resize(IdOf(fd), length);
  return result;
}

int RecordedFchmod(int fd, mode_t mode) {
  int result = system::fchmod(fd, mode);
  if (result == 0) events.push_back("mode " + NameOf(PathOf(fd)) + " " + Octal(mode));
  return result;
}

int RecordedFsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  int result = system::fsetxattr(fd, name, value, size, flags);
  if (result == 0) events.push_back("attribute " + NameOf(PathOf(fd)) + " " + name);
  return result;
}

int RecordedFallocate(int fd, int mode, off_t offset, off_t length) {
  int result = system::fallocate(fd, mode, offset, length);
  if (result == 0) {
    events.push_back("reserved " + NameOf(PathOf(fd)) + " " + std::to_string(offset) + " " +
                     std::to_string(length));
  }
  return result;
}

int RecordedPosixFallocate(int fd, off_t offset, off_t length) {
  struct stat st;
  bool known = system::fstat(fd, &st) == 0;
  int result = system::posix_fallocate(fd, offset, length);
  if (result != 0) return result;
  events.push_back("reserved " + NameOf(PathOf(fd)) + " " + std::to_string(offset) + " " +
                   std::to_string(length));
  if (known && offset + length > st.st_size && model) model->Resize(IdOf(fd), offset + length);
  return result;
}

/// A flush that reaches no disk: the model keeps what it would keep after a power cut, and a
/// real one would make the test last minutes.
int RecordedFsync(int fd) {
  struct stat st;
  if (system::fstat(fd, &st) != 0) return -1;
  std::string path = PathOf(fd);
  events.push_back("flush " + NameOf(path));
  if (!model) return 0;
  if (S_ISDIR(st.st_mode)) {
    model->FlushFolder(path);
  } else {
    model->FlushFile(IdOf(fd));
  }
  return 0;
}

int RecordedFlock(int fd, int operation) {
  int result = system::flock(fd, operation);
  std::string kind = (operation & LOCK_EX) ? "exclusive lock " : "shared lock ";
  if (result == 0 && !(operation & LOCK_UN)) events.push_back(kind + NameOf(PathOf(fd)));
  return result;
}

int RecordedRename(const char* from, const char* to) {
  std::string from_path = Canonical(from), to_path = Canonical(to);
  int result = system::rename(from, to);
  if (result != 0) return result;
  events.push_back("rename " + from_path + " " + to_path);
  if (model) model->Rename(from_path, to_path);
  return result;
}

int RecordedRenameat2(int from_folder, const char* from, int to_folder, const char* to,
                      unsigned flags) {
  std::string from_path = Canonical(from), to_path = Canonical(to);
  int result = system::renameat2(from_folder, from, to_folder, to, flags);
  if (result != 0) return result;
  events.push_back("rename " + from_path + " " + to_path);
  if (model) model->Rename(from_path, to_path);
  return result;
}

int RecordedLink(const char* from, const char* to) {
  int result = system::link(from, to);
  struct stat st;
  if (result != 0 || system::lstat(from, &st) != 0) return result;
  events.push_back("link " + Canonical(from) + " " + Canonical(to));
  auto known = ids.find(st.st_ino);
  if (model) model->Link(Canonical(to), known != ids.end() ? known->second : NewId(st.st_ino));
  return result;
}

int RecordedUnlink(const char* path) {
  std::string canonical = Canonical(path);
  struct stat st;
  bool made = system::lstat(path, &st) == 0 && made_files.count(st.st_ino) > 0;
  int result = system::unlink(path);
  if (result != 0) return result;
  // A name of a file that others made goes with no loss of the save's own.
  events.push_back((made ? "unlink " : "unlink-other ") + NameOf(canonical));
  if (model) model->Remove(canonical);
  return result;
}

int RecordedMkdir(const char* path, mode_t mode) {
  int result = system::mkdir(path, mode);
  struct stat st;
  if (result == 0 && system::stat(path, &st) == 0) {
    events.push_back("made folder " + NameOf(path) + " " + Octal(st.st_mode));
    if (model) model->CreateFolder(Canonical(path), NewId(st.st_ino));
  }
  return result;
}

/// The files whose removal a fault failed, or the look at whose name before it, by their
/// canonical paths.
std::set<std::string> failed_removals;

/// The faulty unlink, noting the file whose removal it failed.
int NotedUnlink(const char* path) {
  size_t fired = SystemCallFaults::Get().fired_at().size();
  int result = faulty::unlink(path);
  if (SystemCallFaults::Get().fired_at().size() > fired) failed_removals.insert(Canonical(path));
  return result;
}

/// The faulty lstat, noting the file it failed to look at: the save removes a file it made only
/// where the name is seen to name that very file, so such a file stays.
int NotedLstat(const char* path, struct stat* status) {
  size_t fired = SystemCallFaults::Get().fired_at().size();
  int result = faulty::lstat(path, status);
  const int error = errno;
  if (SystemCallFaults::Get().fired_at().size() > fired) failed_removals.insert(Canonical(path));
  errno = error;
  return result;
}

/// Whether a flush of a folder was refused as one the file system cannot do, since the last
/// Replacements were put in place.
bool folder_flush_refused = false;

/// The flush, noting a folder's that the file system refuses as unsupported.
int NotingRefusedFolderFlush(int fd) {
  int result = faulty::fsync(fd);
  int error = errno;
  struct stat st;
  if (result != 0 && (error == EINVAL || error == EOPNOTSUPP) && system::fstat(fd, &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    folder_flush_refused = true;
  }
  errno = error;
  return result;
}

/// Sleeps not at all, so that waiting for a lock costs the test nothing.
int NoSleep(const timespec*, timespec*) { return 0; }

/// A close that fails still releases the descriptor, as the system's does.
int ReleasingClose(int fd) {
  int error = SystemCallFaults::Get().Next("close");
  if (system::close(fd) != 0 || error == 0 || error == kShortTransfer) return 0;
  errno = error == kDoneThenFailed ? kEffectError : error;
  return -1;
}

/// The files and folders below `folder`, as the model starts from them.
void AddExisting(const std::string& folder, PowerCutModel* model) {
  for (auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat st;
    std::string path = entry.path().string();
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    auto known = ids.find(st.st_ino);
    model->Existing(Canonical(path), known != ids.end() ? known->second : NewId(st.st_ino),
                    ReadFile(path));
  }
}

/// Where the last event that is `what` stands in `events` before `before`; npos if nowhere.
size_t Last(const std::string& what, size_t before = std::string::npos) {
  for (size_t i = std::min(before, events.size()); i-- > 0;) {
    if (events[i] == what) return i;
  }
  return std::string::npos;
}

/// Where the first event that is `what`, or starts with it where it ends in a blank, stands in
/// `events` from `from` on; events.size() if nowhere.
size_t First(const std::vector<std::string>& events, const std::string& what, size_t from = 0) {
  for (size_t i = from; i < events.size(); ++i) {
    if (what.ends_with(' ') ? events[i].starts_with(what) : events[i] == what) return i;
  }
  return events.size();
}

/// The backups that the recorded run removed while the file they keep had changes not yet
/// flushed, or before the file was written: a backup whose content was flushed is never worse
/// than none, and goes only once the file's new content or its old one is flushed.
std::string BackupsRemovedEarly() {
  std::string early;
  for (size_t i = 0; i < events.size(); ++i) {
    if (!events[i].starts_with("unlink ")) continue;
    std::string backup = events[i].substr(7);
    size_t suffix = backup.find(".prune-backup");
    if (suffix == std::string::npos) continue;
    std::string file = backup.substr(0, suffix);
    size_t write = Last("write " + file, i), truncate = Last("truncate " + file, i);
    size_t change = write == std::string::npos      ? truncate
                    : truncate == std::string::npos ? write
                                                    : std::max(write, truncate);
    bool unflushed = change != std::string::npos && First(events, "flush " + file, change) > i;
    if (unflushed || First(events, "write " + file, i) < events.size()) early += " " + backup;
  }
  return early;
}

#define RESTORE_SYSTEM_CALL(result, name, parameters, arguments, failed) \
  os::name = system::name;                                               \
  real::name = system::name;

/// Puts the replacements and recorders in place for as long as it lives; the user's state
/// folder is one inside the test's folder meanwhile.
class Replacements {
 public:
  Replacements(const std::string& folder, PowerCutModel* recording) {
    PRUNE_SYSTEM_CALLS(PRUNE_REPLACE_CALL)
    os::close = ReleasingClose;
    os::unlink = NotedUnlink;
    os::lstat = NotedLstat;
    failed_removals.clear();
    os::fsync = NotingRefusedFolderFlush;
    folder_flush_refused = false;
    real::open = RecordedOpen;
    real::read = RecordedRead;
    real::writev = RecordedWritev;
    real::ftruncate = RecordedFtruncate;
    real::fallocate = RecordedFallocate;
    real::posix_fallocate = RecordedPosixFallocate;
    real::fsync = RecordedFsync;
    real::flock = RecordedFlock;
    real::rename = RecordedRename;
    real::renameat2 = RecordedRenameat2;
    real::link = RecordedLink;
    real::unlink = RecordedUnlink;
    real::fchmod = RecordedFchmod;
    real::fsetxattr = RecordedFsetxattr;
    real::mkdir = RecordedMkdir;
    real::nanosleep = NoSleep;
    events.clear();
    made_files.clear();
    ids.clear();
    model = recording;
    if (model) AddExisting(folder, model);
    setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
  }
  ~Replacements() {
    SystemCallFaults::Get().Stop();
    EXPECT_EQ(BackupsRemovedEarly(), "") << "removed before the file's content was flushed";
    model = nullptr;
    unsetenv("XDG_STATE_HOME");
    PRUNE_SYSTEM_CALLS(RESTORE_SYSTEM_CALL)
  }
};

/// Everything in a folder that a save must keep or may change, entry by entry: kind, mode,
/// owner, group, links, extended attributes, the content of a file and the target of a link.
FolderState Snapshot(const std::string& folder) {
  FolderState entries;
  for (auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string path = entry.path().string();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    // The user's state folder stays once made; what counts is what lies in it.
    std::string name = entry.path().lexically_relative(folder).string();
    if (S_ISDIR(st.st_mode) && (name == "state" || name == "state/prune")) continue;
    std::string state = "mode " + std::to_string(st.st_mode) + " owner " +
                        std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " links " +
                        std::to_string(st.st_nlink);
    char names[4096];
    ssize_t size = llistxattr(path.c_str(), names, sizeof names);
    std::vector<std::string> attributes;
    for (const char* name = names; size > 0 && name < names + size; name += strlen(name) + 1) {
      char value[4096];
      ssize_t length = lgetxattr(path.c_str(), name, value, sizeof value);
      attributes.push_back(std::string(name) + "=" +
                           std::string(value, std::max<ssize_t>(length, 0)));
    }
    std::sort(attributes.begin(), attributes.end());
    for (const std::string& attribute : attributes) state += " " + attribute;
    if (S_ISLNK(st.st_mode)) state += " link " + fs::read_symlink(path).string();
    if (S_ISREG(st.st_mode)) state += " content " + Digest(ReadFile(path));
    entries[name] = state;
  }
  return entries;
}

/// An access control list in the form the kernel keeps it as an extended attribute: each entry
/// a tag, permissions and an id.
std::string AccessControlList(std::initializer_list<std::array<uint32_t, 3>> entries) {
  std::string bytes;
  auto put = [&](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(2, 4);  // version
  for (const auto& [tag, permissions, id] : entries) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  return bytes;
}

// Entry tags of an access control list.
constexpr uint32_t kOwner = 1, kUser = 2, kGroupOwner = 4, kMask = 0x10, kOthers = 0x20;

/// A folder whose new files give user 4242 read and write access, by a default access control
/// list. False where the file system has none.
bool GiveDefaultAccess(const std::string& folder) {
  std::string acl = AccessControlList({{kOwner, 7, ~0u},
                                       {kUser, 7, 4242},
                                       {kGroupOwner, 5, ~0u},
                                       {kMask, 7, ~0u},
                                       {kOthers, 5, ~0u}});
  return setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
}

/// part.nc with `content`, a mode of its own and an extended attribute.
std::string ProgramWith(TempFolder& folder, const std::string& content) {
  folder.Write("part.nc", content);
  chmod(folder.At("part.nc").c_str(), 0640);
  setxattr(folder.At("part.nc").c_str(), "user.machine", "3", 1, 0);
  return "";
}

std::string Program(TempFolder& folder) { return ProgramWith(folder, kOldProgram); }

/// The program that the run prunes, as Program makes the program.
std::string ProgramToPruneIn(TempFolder& folder) { return ProgramWith(folder, ProgramToPrune()); }

std::string LinkedProgram(TempFolder& folder) {
  Program(folder);
  link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str());
  return "";
}

const char kNoAccessLists[] = "no access control lists here";

/// The file capability cap_net_raw, permitted and effective, as the kernel keeps it.
std::string NetRawCapability() {
  std::string bytes;
  auto put = [&](uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE);
  for (uint32_t word : {CAP_TO_MASK(CAP_NET_RAW), 0u, 0u, 0u}) put(word);  // permitted, inheritable
  return bytes;
}

/// Gives the program file capabilities; only the superuser may.
std::string GiveCapabilities(TempFolder& folder) {
  std::string capability = NetRawCapability();
  if (setxattr(folder.At("part.nc").c_str(), "security.capability", capability.data(),
               capability.size(), 0) != 0) {
    return "file capabilities need the superuser";
  }
  return "";
}

/// Every situation, each with its content and the way its good save takes.
std::vector<FaultSituation> Situations() {
  auto in_place = [](FaultSituation made, const std::string& content) {
    made.way = SaveWay::kInPlace;
    made.content = content;
    return made;
  };
  // The run's own load and save of a program read in pieces, which it writes while it reads.
  auto in_pieces = [](FaultSituation made) {
    made.piece_size = 1024;
    made.content = PrunedProgram();
    return made;
  };
  FaultSituation relative = SituationOf("a bare relative name", Program);
  relative.relative_names = true;
  return {
      SituationOf("rename over the program", Program),
      relative,
      SituationOf("rename over a set-ID program",
                  [](TempFolder& folder) {
                    Program(folder);
                    chmod(folder.At("part.nc").c_str(), 06755);
                    return "";
                  }),
      in_place(SituationOf("in place: a second link, shorter", LinkedProgram), kShorterProgram),
      in_place(SituationOf("in place: a second link, longer", LinkedProgram), kLongerProgram),
      in_place(SituationOf("in place: a set-ID program with a second link",
                           [](TempFolder& folder) {
                             LinkedProgram(folder);
                             chmod(folder.At("part.nc").c_str(), 06770);
                             return "";
                           }),
               kShorterProgram),
      SituationOf("rename over a program with file capabilities",
                  [](TempFolder& folder) {
                    Program(folder);
                    return GiveCapabilities(folder);
                  }),
      in_place(SituationOf("in place: a program with file capabilities and a second link",
                           [](TempFolder& folder) {
                             LinkedProgram(folder);
                             return GiveCapabilities(folder);
                           }),
               kShorterProgram),
      SituationOf("a new .tap", Program, "part.tap", "part.tap"),
      in_pieces(SituationOf("a program read in pieces, renamed over", ProgramToPruneIn)),
      // A new file asks for the program's permissions, which are here those that the matrix
      // expects of any new file.
      in_pieces(SituationOf(
          "a program read in pieces, a new .tap",
          [](TempFolder& folder) {
            folder.Write("part.nc", ProgramToPrune());
            chmod(folder.At("part.nc").c_str(), 0666);
            return "";
          },
          "part.tap", "part.tap")),
      in_pieces(in_place(SituationOf("in place: a program read in pieces with a second link",
                                     [](TempFolder& folder) {
                                       ProgramToPruneIn(folder);
                                       link(folder.At("part.nc").c_str(),
                                            folder.At("other.nc").c_str());
                                       return "";
                                     }),
                         "")),
      SituationOf(
          "over an existing .tap",
          [](TempFolder& folder) {
            Program(folder);
            folder.Write("part.tap", "old tap");
            return "";
          },
          "part.tap", "part.tap"),
      SituationOf(
          "a program reached through a symbolic link",
          [](TempFolder& folder) {
            folder.Write("real/part.nc", kOldProgram);
            fs::create_symlink("real/part.nc", folder.At("part.nc"));
            return "";
          },
          "part.nc", "real/part.nc"),
      SituationOf(
          "a .tap link whose target is not there yet",
          [](TempFolder& folder) {
            Program(folder);
            fs::create_directory(folder.At("out"));
            fs::create_symlink("out/result.tap", folder.At("part.tap"));
            return "";
          },
          "part.tap", "out/result.tap"),
      SituationOf("a program in a folder with a default access list",
                  [](TempFolder& folder) {
                    if (!GiveDefaultAccess(folder.path())) return kNoAccessLists;
                    folder.Write("part.nc", kOldProgram);
                    chmod(folder.At("part.nc").c_str(), 0640);
                    return "";
                  }),
      // The new file takes the folder's access list, which the program lacks: it must go.
      SituationOf("a program made before its folder got a default access list",
                  [](TempFolder& folder) {
                    Program(folder);
                    return GiveDefaultAccess(folder.path()) ? "" : kNoAccessLists;
                  }),
      SituationOf(
          "a new .tap in a folder with a default access list",
          [](TempFolder& folder) {
            if (!GiveDefaultAccess(folder.path())) return kNoAccessLists;
            folder.Write("part.nc", kOldProgram);
            return "";
          },
          "part.tap", "part.tap"),
  };
}

/// The mode that a file created with 0666 gets in `folder` (by the umask or a default access
/// list), with its extended attributes.
std::string NewFileStateIn(const std::string& folder, const std::string& content) {
  std::string path = folder + "/reference";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  std::string state = Snapshot(folder)["reference"];
  unlink(path.c_str());
  return state;
}

/// The two paths of an event that starts with `kind` ("rename ", "link "); empty elsewhere.
std::pair<std::string, std::string> Paths(const std::string& event, const std::string& kind) {
  std::string from, to;
  if (event.starts_with(kind)) std::istringstream(event.substr(kind.size())) >> from >> to;
  return {from, to};
}

/// The promises of a good run that lie in the order of its calls, which no outcome shows.
std::string BrokenPromises(const FaultSituation& situation) {
  std::string broken;
  std::string program = NameOf(situation.written), read = "read " + NameOf(situation.program);
  if (First(events, "shared lock ") > First(events, "read ")) {
    broken += " read without the shared lock;";
  }
  // The rename that puts the content in place, if any (a backup is renamed to a name of its own).
  size_t rename = events.size();
  std::string from, to;
  for (size_t i = 0; i < events.size() && rename == events.size(); ++i) {
    auto [source, destination] = Paths(events[i], "rename ");
    if (NameOf(destination) == program)
      std::tie(rename, from, to) = std::tie(i, source, destination);
  }
  bool renamed = rename < events.size();
  if (renamed != (situation.way == SaveWay::kRename)) {
    broken += renamed ? " renamed;" : " not renamed;";
  }
  // What the writes cleared (set-ID bits, capabilities) is given back after the last write of
  // the file that takes the content and before its flush.
  std::string file = renamed ? NameOf(from) : program;
  // Just after the last write or cut (npos + 1 is 0: none).
  size_t last_change = std::max(Last("write " + file) + 1, Last("truncate " + file) + 1);
  size_t final_flush = First(events, "flush " + file, last_change);
  for (size_t i = 0; i < events.size(); ++i) {
    std::string mode = "mode " + file + " ";
    bool set_id = events[i].starts_with(mode) &&
                  (std::stoul(events[i].substr(mode.size()), nullptr, 8) & 06000) != 0;
    bool capabilities = events[i] == "attribute " + file + " security.capability";
    if ((set_id || capabilities) && (i < last_change || i > final_flush)) {
      broken += " privileges given back out of order;";
    }
  }
  if (renamed) {
    // The new file made beside the file, flushed after its last write; the folder flushed after
    // the rename.
    if (FolderPart(from) != FolderPart(to)) broken += " renamed from another folder;";
    if (final_flush > rename) broken += " renamed unflushed;";
    if (First(events, "flush ", rename) == events.size()) broken += " rename not flushed;";
    return broken;
  }
  if (situation.way != SaveWay::kInPlace) return broken;
  // In place: locked, room for all of it reserved from its start, and the old content in a
  // flushed backup, all before its first byte changes: written under a temporary name, flushed,
  // given its backup name, its folder flushed. The backup gone after the file's last flush.
  size_t write = First(events, "write " + program);
  if (First(events, "exclusive lock " + program) > write) broken += " written unlocked;";
  bool reserved = false;
  for (size_t i = 0; i < write; ++i) {
    std::string prefix = "reserved " + program + " 0 ";
    if (events[i].starts_with(prefix)) {
      reserved |= std::stoul(events[i].substr(prefix.size())) >= situation.content.size();
    }
  }
  if (!reserved) broken += " written without room reserved for all of it;";
  bool backed_up = false;
  for (size_t i = 0; i < write; ++i) {
    auto [temporary, backup] = Paths(events[i], "rename ");
    if (backup.empty()) std::tie(temporary, backup) = Paths(events[i], "link ");
    if (!NameOf(backup).starts_with(program + ".prune-backup")) continue;
    bool flushed =
        First(events, "flush " + NameOf(temporary), Last("write " + NameOf(temporary), i)) < i;
    std::string folder = fs::path(backup).parent_path().filename().string();
    backed_up |= flushed && First(events, "flush " + folder, i) < write;
  }
  if (!backed_up) broken += " written without a flushed backup;";
  if (First(events, "unlink " + program + ".prune-backup", Last("flush " + program)) ==
      events.size()) {
    broken += " backup not removed after the last flush;";
  }
  return broken;
}

/// The POSIX seam for the fault matrix.
class PosixFaults : public FaultPlatform {
 public:
  const FaultKinds& kinds() const override {
    static const FaultKinds kinds = {
        {EIO, ENOSPC, EDQUOT, EFBIG, EACCES, EPERM, EROFS, ENOLCK, EOPNOTSUPP, EINTR},
        {"read", "writev"},
        {"writev", "ftruncate", "fchmod", "fchown", "fsetxattr", "fremovexattr", "rename",
         "renameat2", "link", "unlink", "mkdir", "fallocate", "posix_fallocate", "fsync"},
        {EOPNOTSUPP}};
    return kinds;
  }
  std::string ErrorName(int error) const override { return strerrorname_np(error); }
  std::string ErrorText(int error) const override { return strerror(error); }
  bool SavesOwnFile(const std::string& name) const override {
    return name.find(".prune-") != std::string::npos;
  }
  bool MayRemain(const std::string& name) const override {
    return failed_removals.count(Canonical(folder_ + "/" + name)) > 0;
  }
  FolderState Snapshot(const std::string& folder) const override { return ::Snapshot(folder); }
  std::shared_ptr<void> Replace(const std::string& folder, PowerCutModel* model) override {
    folder_ = folder;
    return std::make_shared<Replacements>(folder, model);
  }
  std::string BrokenPromises(const FaultSituation& situation) const override {
    return ::BrokenPromises(situation);
  }
  std::string ModelPath(const std::string& folder, const std::string& name) const override {
    return Canonical(folder + "/" + name);
  }
  std::string NewFileState(const std::string& folder, const std::string& content) const override {
    return NewFileStateIn(folder, content);
  }
  bool IsBackupOf(const std::string& name, const std::string& written) const override {
    return NameOf(name).starts_with(NameOf(written) + ".prune-backup");
  }
  bool FolderFlushRefused() const override { return folder_flush_refused; }

 private:
  std::string folder_;  ///< of the last run
};

/// Takes from this process, as long as it lives, the right to keep set-ID bits through a write,
/// which the superuser has: its writes then clear them, as an ordinary user's do.
class WritesClearSetIdBits {
 public:
  WritesClearSetIdBits() {
    if (syscall(SYS_capget, &header_, kept_) != 0) return;
    __user_cap_data_struct reduced[2] = {kept_[0], kept_[1]};
    reduced[CAP_TO_INDEX(CAP_FSETID)].effective &= ~CAP_TO_MASK(CAP_FSETID);
    changed_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WritesClearSetIdBits() {
    if (changed_) syscall(SYS_capset, &header_, kept_);
  }

 private:
  __user_cap_header_struct header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct kept_[2] = {};
  bool changed_ = false;
};

TEST(SaveFaultsPosixTest, EveryCallFailsInTurnToDepthTwoAndTheFileStaysWhole) {
  WritesClearSetIdBits as_for_everyone;
  PosixFaults platform;
  FaultFigures figures = RunFaultMatrix(platform, Situations());
  std::cout << "[ figures  ] " << Describe(figures) << "\n";
}

const FaultSituation SituationNamed(const std::string& name) {
  for (const FaultSituation& situation : Situations()) {
    if (situation.name == name) return situation;
  }
  ADD_FAILURE() << "no situation " << name;
  return {};
}

/// One load and save of the situation `name`, made in `folder`, with `plan` armed, after
/// `change_seam` changed the seam further, if given.
RunRecord RunWith(const std::string& name, TempFolder& folder, const FaultPlan& plan,
                  const std::function<void()>& change_seam = {}) {
  FaultSituation situation = SituationNamed(name);
  situation.set_up(folder);
  PosixFaults platform;
  Replacements replacements(folder.path(), nullptr);
  if (change_seam) change_seam();
  SystemCallFaults::Get().Arm(plan);
  return LoadAndSave(platform, situation, folder);
}

/// The save's own files in the folder.
std::string Leftovers(const RunRecord& record) {
  std::string leftovers;
  for (const auto& [name, state] : record.folder) {
    if (name.find(".prune-") != std::string::npos) leftovers += " " + name;
  }
  return leftovers;
}

TEST(SaveFaultsPosixTest, FaultsThatTheSaveGetsAround) {
  struct Case {
    const char* situation;
    const char* call;
    int nth;
    int error;
    const char* kind;  // empty: saved all the same
  };
  const Case cases[] = {
      // No room for a second copy: the file itself, written in place, still takes the result.
      {"rename over the program", "writev", 1, ENOSPC, ""},
      {"rename over the program", "writev", 1, EDQUOT, ""},
      {"rename over the program", "fsync", 1, ENOSPC, ""},
      {"rename over the program", "open", 2, ENOSPC, ""},
      {"rename over the program", "rename", 1, ENOSPC, ""},
      // A file system without locks is used without them.
      {"rename over the program", "flock", 1, ENOLCK, ""},
      {"in place: a second link, shorter", "flock", 2, EOPNOTSUPP, ""},
      {"in place: a second link, shorter", "flock", 2, EINVAL, ""},
      // The new file refuses the program's attributes: the program is written in place.
      {"rename over the program", "fsetxattr", 1, EPERM, ""},
      // A rename reported as failed after it was done is done.
      {"rename over the program", "rename", 1, kDoneThenFailed, ""},
      // Asking the system to start writing a stretch out is a hint: refused, it changes nothing,
      // and the flush at the end is what counts.
      {"rename over the program", "sync_file_range", 1, EIO, ""},
      {"a new .tap", "sync_file_range", 1, ENOSPC, ""},
      // No backup beside the program: it goes to the user's state folder.
      {"in place: a second link, shorter", "open", 3, EACCES, ""},
      // The backup's name beside it not flushed: it stays until the program is flushed, and a
      // second one goes to the state folder.
      {"in place: a second link, shorter", "fsync", 2, EIO, ""},
      // A file system that cannot rename without replacing: the backup's name is linked; and a
      // naming reported as failed after it was done is done.
      {"in place: a second link, shorter", "renameat2", 1, EOPNOTSUPP, ""},
      {"in place: a second link, shorter", "renameat2", 1, kDoneThenFailed, ""},
      {"in place: a second link, shorter", "link", 1, kDoneThenFailed, ""},
      // What the file itself refuses fails the run, with the old content written back (after the
      // backup's write, its flush and the folder's).
      {"in place: a second link, shorter", "fsync", 3, EIO, "EWriteError"},
      {"in place: a second link, longer", "fallocate", 1, ENOSPC, "EWriteError"},
      {"in place: a second link, longer", "writev", 2, EIO, "EWriteError"},
      {"in place: a second link, longer", "writev", 2, kDoneThenFailed, "EWriteError"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.situation) + ", " + c.call + " #" + std::to_string(c.nth));
    TempFolder folder;
    FaultPlan plan = {{c.call, c.nth, c.error}};
    if (std::string(c.call) == "link") plan = {{"renameat2", 1, EOPNOTSUPP}, {"link", 1, c.error}};
    RunRecord outcome = RunWith(c.situation, folder, plan);
    FaultSituation situation = SituationNamed(c.situation);
    EXPECT_EQ(outcome.fired_at.size(), plan.size());
    EXPECT_EQ(outcome.failure.kind, c.kind) << NativeFromText(outcome.failure.message);
    EXPECT_EQ(Digest(folder.Read(situation.written)),
              Digest(std::string(c.kind).empty() ? situation.content : kOldProgram));
    EXPECT_EQ(Leftovers(outcome), "");
  }
}

TEST(SaveFaultsPosixTest, AFileSystemWithoutFolderFlushesIsNoFailure) {
  // A network share or a FUSE file system refuses a folder's flush as unsupported, wherever the
  // save flushes one: the rename's folder, the backup's, the state folder's parent. Any other
  // failure after the rename says that the file holds the new content.
  struct Case {
    const char* situation;
    FaultPlan plan;
    const char* kind;  // empty: saved
  };
  const FaultPlan no_backup_beside = {{"open", 3, EACCES}};
  auto after = [](FaultPlan plan, const Fault& fault) {
    plan.push_back(fault);
    return plan;
  };
  const Case cases[] = {
      {"rename over the program", {{"fsync", 2, EINVAL}}, ""},
      {"rename over the program", {{"fsync", 2, EOPNOTSUPP}}, ""},
      {"a new .tap", {{"fsync", 2, EINVAL}}, ""},
      {"a new .tap", {{"fsync", 2, EOPNOTSUPP}}, ""},
      {"in place: a second link, shorter", {{"fsync", 2, EINVAL}}, ""},
      {"in place: a second link, shorter", {{"fsync", 2, EOPNOTSUPP}}, ""},
      {"in place: a second link, shorter", after(no_backup_beside, {"fsync", 1, EINVAL}), ""},
      {"in place: a second link, shorter", after(no_backup_beside, {"fsync", 2, EOPNOTSUPP}), ""},
      {"in place: a second link, shorter", after(no_backup_beside, {"fsync", 4, EINVAL}), ""},
      {"rename over the program", {{"fsync", 2, EIO}}, "EWriteError"},
      {"a new .tap", {{"fsync", 2, EIO}}, "EWriteError"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.situation) + ", fsync #" + std::to_string(c.plan.back().nth) +
                 " with " + strerrorname_np(c.plan.back().error));
    FaultSituation situation = SituationNamed(c.situation);
    TempFolder folder;
    situation.set_up(folder);
    PosixFaults platform;
    RunRecord outcome;
    {
      Replacements replacements(folder.path(), nullptr);
      SystemCallFaults::Get().Arm(c.plan);
      outcome = LoadAndSave(platform, situation, folder);
    }
    EXPECT_EQ(outcome.fired_at.size(), c.plan.size());
    EXPECT_EQ(outcome.failure.kind, c.kind) << NativeFromText(outcome.failure.message);
    EXPECT_EQ(Digest(folder.Read(situation.written)), Digest(situation.content));
    if (!std::string(c.kind).empty()) {
      EXPECT_EQ(NativeFromText(outcome.failure.message),
                "Stream-Schreibfehler. Datei " + folder.At(situation.output) +
                    " enthält den neuen Inhalt, der aber möglicherweise noch nicht vor einem "
                    "Stromausfall sicher ist");
    }
  }
}

/// While the backup is flushed (under its temporary name, before it takes the backup's), another
/// program (an editor, a CAM system posting again) writes the program through its other name,
/// which no lock of ours holds off.
int FlushWhileAnotherProgramWrites(int fd) {
  std::string path = PathOf(fd);
  if (path.substr(FolderPart(path).size()).starts_with(".prune-")) {
    std::ofstream(std::string(FolderPart(path)) + "other.nc", std::ios::binary)
        << "EDITOR WROTE THIS\r\n";
  }
  return faulty::fsync(fd);
}

TEST(SaveFaultsPosixTest, AWriteByAnotherProgramWhileTheBackupIsMadeIsKept) {
  FaultSituation situation = SituationNamed("in place: a second link, shorter");
  TempFolder folder;
  situation.set_up(folder);
  PosixFaults platform;
  RunRecord outcome;
  {
    Replacements replacements(folder.path(), nullptr);
    os::fsync = FlushWhileAnotherProgramWrites;
    SystemCallFaults::Get().Arm({});
    outcome = LoadAndSave(platform, situation, folder);
  }
  EXPECT_EQ(outcome.failure.kind, "EFCreateError");
  EXPECT_NE(NativeFromText(outcome.failure.message).find("von einem anderen Programm geändert"),
            std::string::npos)
      << NativeFromText(outcome.failure.message);
  EXPECT_EQ(folder.Read("part.nc"), "EDITOR WROTE THIS\r\n");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"other.nc", "part.nc"})) << "the backup goes";
}

/// What another program does once, right before the save's `nth` call of the kind `call`, given
/// the path that call names (a descriptor's path for a read).
struct AnotherProgram {
  std::string call;
  int nth = 0;
  std::function<void(const std::string& path)> act;
};
AnotherProgram another_program;

/// Counts a call of the kind `call`; acts at the `nth` of the kind awaited.
void Meanwhile(const char* call, const std::string& path) {
  if (another_program.act && another_program.call == call && --another_program.nth == 0) {
    std::exchange(another_program.act, {})(path);
  }
}

ssize_t ReadMeanwhile(int fd, void* buffer, size_t size) {
  Meanwhile("read", PathOf(fd));
  return faulty::read(fd, buffer, size);
}
int LstatMeanwhile(const char* path, struct stat* status) {
  if (NameOf(path).starts_with(".prune-")) Meanwhile("lstat", path);
  return NotedLstat(path, status);
}
int RenameMeanwhile(const char* from, const char* to) {
  Meanwhile("rename", from);
  return faulty::rename(from, to);
}
int Renameat2Meanwhile(int from_folder, const char* from, int to_folder, const char* to,
                       unsigned flags) {
  Meanwhile("renameat2", from);
  return faulty::renameat2(from_folder, from, to_folder, to, flags);
}
int LinkMeanwhile(const char* from, const char* to) {
  Meanwhile("link", from);
  return faulty::link(from, to);
}

/// Another version of `program` of the same length that differs from it on every line, as a
/// CAM system writes it when it posts again into the same file.
std::string AnotherVersion(std::string program) {
  for (char& c : program) {
    if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + 1) % 10);
    if (c == 'A') c = 'B';
  }
  return program;
}

TEST(SaveFaultsPosixTest, WhatAnotherProgramDoesMeanwhileNeverEndsInAWrongSuccess) {
  const std::string earlier_backup = "AN EARLIER RUN'S BACKUP\r\n";
  const std::string planted_content = "PLANTED BY ANOTHER PROGRAM\r\n";
  const std::map<std::string, std::function<void(const std::string&)>> acts = {
      {"rewrite",
       [](const std::string& path) {
         std::string program = ReadFile(path);
         std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out)
             << AnotherVersion(program);
       }},
      {"remove", [](const std::string& path) { unlink(path.c_str()); }},
      {"plant",
       [&](const std::string& path) {
         unlink(path.c_str());
         std::ofstream(path, std::ios::binary) << planted_content;
       }},
  };
  struct Case {
    const char* name;
    const char* situation;
    const char* call;  // the kind of call before which the other program acts ("lstat": of a
                       // name of the save's own)
    int nth;
    const char* act;
    bool no_renameat2;  // a file system that cannot rename without replacing: backups are linked
    const char* kind;   // the failure, empty for a save
    const char* program_after;  // "old", "new", "another version" or "planted"
    // Where the file that the other program planted ends, untouched: "*" where it was planted.
    const char* planted_ends_at;
  };
  const Case cases[] = {
      // The program rewritten in place while it is read in pieces: neither a .tap nor the
      // program itself may take a mix of the two versions.
      {"the program rewritten while a .tap is written", "a program read in pieces, a new .tap",
       "read", 2, "rewrite", false, "EFCreateError", "another version", ""},
      {"the program rewritten while it is written anew", "a program read in pieces, renamed over",
       "read", 2, "rewrite", false, "EFCreateError", "another version", ""},
      // A temporary file gone before it takes its name proves nothing: neither that the program
      // holds the new content, nor that a backup's name is the save's own.
      {"the temporary file removed before the rename", "rename over the program", "rename", 1,
       "remove", false, "EFCreateError", "old", ""},
      {"a new .tap's temporary file removed before the rename", "a new .tap", "rename", 1, "remove",
       false, "EFCreateError", "old", ""},
      {"the backup's temporary file removed before it is named", "in place: a second link, shorter",
       "renameat2", 1, "remove", false, "", "new", ""},
      {"the backup's temporary file removed before it is linked",
       "in place: a second link, shorter", "link", 1, "remove", true, "", "new", ""},
      // Nor is a file that took the temporary name meanwhile the save's own: it is never renamed
      // over the program where that can be seen before, never reported as the result where it
      // is seen after, never taken for a backup and never removed.
      {"another file under the temporary name before it is renamed", "rename over the program",
       "lstat", 1, "plant", false, "EFCreateError", "old", "*"},
      {"another file under the temporary name while it is renamed", "rename over the program",
       "rename", 1, "plant", false, "EFCreateError", "planted", ""},
      {"another file under the backup's temporary name before it is named",
       "in place: a second link, shorter", "lstat", 1, "plant", false, "", "new", "*"},
      {"another file under the backup's temporary name while it is named",
       "in place: a second link, shorter", "renameat2", 1, "plant", false, "", "new",
       "part.nc.prune-backup-2"},
      {"another file under the backup's temporary name while it is linked",
       "in place: a second link, shorter", "link", 1, "plant", true, "", "new", "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultSituation situation = SituationNamed(c.situation);
    TempFolder folder;
    situation.set_up(folder);
    folder.Write("part.nc.prune-backup", earlier_backup);
    const std::string program = folder.Read("part.nc");
    std::string planted;
    PosixFaults platform;
    RunRecord outcome;
    {
      Replacements replacements(folder.path(), nullptr);
      os::read = ReadMeanwhile;
      os::lstat = LstatMeanwhile;
      os::rename = RenameMeanwhile;
      os::renameat2 = Renameat2Meanwhile;
      os::link = LinkMeanwhile;
      another_program = {c.call, c.nth, [&](const std::string& path) {
                           acts.at(c.act)(path);
                           planted = NameOf(path);
                         }};
      FaultPlan no_renameat2 = {{"renameat2", 1, EINVAL}, {"renameat2", 2, EINVAL}};
      SystemCallFaults::Get().Arm(c.no_renameat2 ? no_renameat2 : FaultPlan{});
      outcome = LoadAndSave(platform, situation, folder);
      EXPECT_FALSE(another_program.act) << "the other program never came to act";
      another_program = {};
    }
    EXPECT_EQ(outcome.failure.kind, c.kind) << NativeFromText(outcome.failure.message);
    const std::map<std::string, std::string> contents = {
        {"old", program},
        {"new", situation.content},
        {"another version", AnotherVersion(program)},
        {"planted", planted_content}};
    EXPECT_EQ(Digest(folder.Read("part.nc")), Digest(contents.at(c.program_after)));
    if (std::string(c.act) == "rewrite") {
      EXPECT_NE(NativeFromText(outcome.failure.message)
                    .find("Datei \"" + folder.At("part.nc") +
                          "\" kann nicht erstellt werden. Die Datei wurde seit dem Lesen von "
                          "einem anderen Programm geändert"),
                std::string::npos)
          << NativeFromText(outcome.failure.message);
    }
    EXPECT_EQ(folder.Read("part.nc.prune-backup"), earlier_backup);
    std::vector<std::string> expected = {"part.nc", "part.nc.prune-backup"};
    if (folder.Exists("other.nc")) expected.push_back("other.nc");
    if (*c.planted_ends_at != '\0') {
      if (std::string(c.planted_ends_at) != "*") planted = c.planted_ends_at;
      EXPECT_EQ(folder.Read(planted), planted_content);
      expected.push_back(planted);
    }
    if (folder.Exists("state")) {
      expected.push_back("state");
      EXPECT_TRUE(fs::is_empty(folder.At("state/prune"))) << "a backup left in the state folder";
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder.Names(), expected) << "nothing of the save's left, nothing of others removed";
  }
}

TEST(SaveFaultsPosixTest, ALockHeldForEverIsGivenUp) {
  TempFolder folder;
  folder.Write("part.nc", kOldProgram);
  Replacements replacements(folder.path(), nullptr);
  SystemCallFaults::Get().FailEvery("flock", EWOULDBLOCK, 100000);
  Failure failure;
  try {
    ReadWholeFile(folder.PathOf("part.nc"));
  } catch (const Failure& raised) {
    failure = raised;
  }
  int attempts = SystemCallFaults::Get().counts().front().count;
  SystemCallFaults::Get().Stop();
  EXPECT_EQ(failure.kind, "EFOpenError");
  EXPECT_LT(attempts, 1000);
}

int OnCopyOnWrite(int fd, struct statfs* status) {
  int result = faulty::fstatfs(fd, status);
  if (result == 0) status->f_type = 0x9123683E;  // btrfs
  return result;
}

TEST(SaveFaultsPosixTest, NoRoomForACopyOnACopyOnWriteFileSystemFailsTheSave) {
  // Written in place, every overwritten block needs new room there too: no way out, wherever
  // the rename way ran out of room.
  const Fault cases[] = {
      {"open", 2, ENOSPC},  {"writev", 1, ENOSPC}, {"fsetxattr", 1, EDQUOT},
      {"fsync", 1, ENOSPC}, {"rename", 1, ENOSPC}, {"writev", 1, EFBIG},
  };
  for (const Fault& fault : cases) {
    SCOPED_TRACE(fault.name);
    TempFolder folder;
    RunRecord outcome =
        RunWith("rename over the program", folder, {fault}, [] { os::fstatfs = OnCopyOnWrite; });
    TempFolder reference;
    SituationNamed("rename over the program").set_up(reference);
    EXPECT_EQ(outcome.failure.kind, "EWriteError");
    EXPECT_EQ(outcome.folder, Snapshot(reference.path()));
    EXPECT_EQ(std::count(outcome.calls.begin(), outcome.calls.end(), "flock"), 1)
        << "written in place";
  }
}

TEST(SaveFaultsPosixTest, WhatASaveMakesIsTheUsersAloneFromTheStart) {
  // Whoever opens a file while it is new keeps reading it, whatever mode it gets later: each
  // file and folder that a save makes is made for this user alone, whatever the umask allows.
  struct Case {
    const char* situation;
    FaultPlan plan;
    std::vector<std::string> made;
  };
  const Case cases[] = {
      {"rename over the program", {}, {"made .prune-* 600"}},
      {"in place: a second link, shorter", {}, {"made .prune-* 600"}},
      {"in place: a second link, shorter",
       {{"open", 3, EACCES}},
       {"made folder state 700", "made folder prune 700", "made .prune-* 600"}},
  };
  mode_t umask_before = umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation + std::string(c.plan.empty() ? "" : ", no backup beside it"));
    TempFolder folder;
    RunRecord outcome = RunWith(c.situation, folder, c.plan);
    EXPECT_EQ(outcome.failure.kind, "");
    std::vector<std::string> made;
    for (std::string event : events) {
      size_t temporary = event.find(".prune-");
      if (temporary != std::string::npos) event.replace(temporary, 13, ".prune-*");
      if (event.starts_with("made ")) made.push_back(event);
    }
    EXPECT_EQ(made, c.made);
  }
  umask(umask_before);
}

/// What another program leaves in place of the program: as many bytes as it had.
const std::string kTheirs(kOldProgram.size(), 'x');

/// Puts another file in the program's place, then flushes.
int FlushAfterAReplacement(int fd) {
  std::string program = std::string(FolderPart(PathOf(fd))) + "part.nc";
  std::ofstream(program + ".theirs", std::ios::binary) << kTheirs;
  rename((program + ".theirs").c_str(), program.c_str());
  return faulty::fsync(fd);
}

/// Writes over the program's bytes, then flushes.
int FlushAfterARewrite(int fd) {
  std::string program = std::string(FolderPart(PathOf(fd))) + "part.nc";
  std::ofstream(program, std::ios::binary | std::ios::in | std::ios::out) << kTheirs;
  return faulty::fsync(fd);
}

TEST(SaveFaultsPosixTest, AFileChangedMeanwhileToTheSameLengthIsNotOverwritten) {
  // Another program changes the file while the new one is flushed: only the file's identity or
  // its times tell, so the whole stamp is compared.
  const std::pair<const char*, int (*)(int)> cases[] = {
      {"replaced by another file of the same length", FlushAfterAReplacement},
      {"rewritten with as many bytes", FlushAfterARewrite},
  };
  for (const auto& [name, flush] : cases) {
    SCOPED_TRACE(name);
    TempFolder folder;
    RunRecord outcome =
        RunWith("rename over the program", folder, {}, [flush = flush] { os::fsync = flush; });
    EXPECT_EQ(outcome.failure.kind, "EFCreateError");
    EXPECT_EQ(folder.Read("part.nc"), kTheirs);
    EXPECT_EQ(Leftovers(outcome), "");
  }
}

TEST(SaveFaultsPosixTest, AFailedRollbackLeavesTheOldContentInTheBackupItNames) {
  // The write fails, and so does writing the old bytes back (and, for a set-ID program, giving
  // its bits back): the file may be a mix, and the failure says where the old content lies whole.
  struct Case {
    const char* situation;
    FaultPlan plan;
  };
  const Case cases[] = {
      {"in place: a second link, longer", {{"writev", 2, EIO}, {"ftruncate", 1, EIO}}},
      {"in place: a set-ID program with a second link",
       {{"writev", 2, EIO}, {"ftruncate", 1, EIO}, {"fchmod", 1, EIO}}},
  };
  WritesClearSetIdBits as_for_everyone;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    TempFolder folder;
    RunRecord outcome = RunWith(c.situation, folder, c.plan);
    EXPECT_EQ(outcome.failure.kind, "EWriteError");
    std::string message = NativeFromText(outcome.failure.message);
    EXPECT_NE(message.find(folder.At("part.nc.prune-backup")), std::string::npos) << message;
    EXPECT_EQ(folder.Read("part.nc.prune-backup"), kOldProgram);
  }
}

// ---------------------------------------------------------------------------------------------
// The matrix itself: a seam that breaks a promise must not pass it.

/// A seam with one call broken after the recorders are in place; no faults are tried, since
/// the good run shows each break.
class BrokenSeam : public PosixFaults {
 public:
  explicit BrokenSeam(void (*breaks)()) : breaks_(breaks) {}
  const FaultKinds& kinds() const override {
    static const FaultKinds none = {{}, {}, {}, {}};
    return none;
  }
  std::shared_ptr<void> Replace(const std::string& folder, PowerCutModel* model) override {
    std::shared_ptr<void> replaced = PosixFaults::Replace(folder, model);
    breaks_();
    return replaced;
  }

 private:
  void (*breaks_)();
};

int RemovesNothing(const char*) { return 0; }
int RenamesNothing(const char*, const char*) { return 0; }
/// A flush that reaches the disk for files only.
int FlushesFilesOnly(int fd) {
  struct stat st;
  if (system::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return RecordedFsync(fd);
}
/// A flush that reaches the disk for folders only.
int FlushesFoldersOnly(int fd) {
  struct stat st;
  if (system::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) return 0;
  return RecordedFsync(fd);
}

TEST(SaveFaultsPosixTest, TheMatrixReportsABrokenSeam) {
  struct Case {
    const char* seam;
    const char* situation;
    void (*breaks)();
    const char* reported;
  };
  const Case cases[] = {
      {"an unlink that removes nothing", "in place: a second link, shorter",
       [] { real::unlink = RemovesNothing; }, "after a reported success"},
      // The save looks at what the name names after its rename: it fails its own good run.
      {"a rename that renames nothing", "rename over the program",
       [] { real::rename = RenamesNothing; }, "kann nicht erstellt werden"},
      {"a folder flush that never reaches the disk", "rename over the program",
       [] { real::fsync = FlushesFilesOnly; }, "after a reported success loses the new content"},
      {"a file flush that never reaches the disk", "rename over the program",
       [] { real::fsync = FlushesFoldersOnly; }, "loses the program"},
      {"a file flush that never reaches the disk, in place", "in place: a second link, longer",
       [] { real::fsync = FlushesFoldersOnly; }, "without the whole old content"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seam);
    BrokenSeam platform(c.breaks);
    ::testing::TestPartResultArray reported;
    {
      ::testing::ScopedFakeTestPartResultReporter catching(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &reported);
      RunFaultMatrix(platform, {SituationNamed(c.situation)});
    }
    std::string messages;
    for (int i = 0; i < reported.size(); ++i) messages += reported.GetTestPartResult(i).message();
    EXPECT_NE(messages.find(c.reported), std::string::npos) << messages.substr(0, 2000);
  }
}

}  // namespace
