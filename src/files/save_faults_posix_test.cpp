// Every system call that a load and a save make, made to fail in turn with every error a file
// system gives, in every situation that chooses another way of saving. After each run the file is
// whole (the old content or the new) and keeps everything else it had, and nothing is left
// beside it.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "base/failure.h"
#include "files/native_file.h"
#include "files/system_calls_posix.h"
#include "testing/system_call_faults.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

// The system's own functions, kept while the replacements below stand in for them.
namespace real {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace real

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
void ReportError(int error) { errno = error; }

// A replacement for each call: the real one, unless the fault plan makes this one fail.
namespace faulty {
PRUNE_SYSTEM_CALLS(PRUNE_FAULTY_CALL)
}  // namespace faulty

/// What happened to the file itself: reservations and locks, with what they covered.
std::vector<std::string> events;

/// A close that fails still releases the descriptor, as the system's does.
int ReleasingClose(int fd) {
  int error = SystemCallFaults::Get().Next("close");
  if (real::close(fd) != 0 || error == 0 || error == kShortTransfer) return 0;
  errno = error;
  return -1;
}

int ObservedFlock(int fd, int operation) {
  int result = faulty::flock(fd, operation);
  if (result == 0 && (operation & LOCK_EX)) events.push_back("exclusive lock");
  if (result == 0 && (operation & LOCK_SH)) events.push_back("shared lock");
  return result;
}

int ObservedFallocate(int fd, int mode, off_t offset, off_t length) {
  int result = faulty::fallocate(fd, mode, offset, length);
  if (result == 0) events.push_back("reserved " + std::to_string(offset + length));
  return result;
}

int ObservedPosixFallocate(int fd, off_t offset, off_t length) {
  int result = faulty::posix_fallocate(fd, offset, length);
  if (result == 0) events.push_back("reserved " + std::to_string(offset + length));
  return result;
}

ssize_t ObservedRead(int fd, void* buffer, size_t size) {
  events.push_back("read");
  return faulty::read(fd, buffer, size);
}

ssize_t ObservedWritev(int fd, const iovec* vectors, int count) {
  events.push_back("write");
  return faulty::writev(fd, vectors, count);
}

int ObservedRename(const char* from, const char* to) {
  events.push_back("rename");
  return faulty::rename(from, to);
}

/// A flush that reaches no disk: what it would keep after a power cut is no matter here, and a
/// real one would make the test last minutes.
int ObservedFsync(int) {
  events.push_back("flush");
  int error = SystemCallFaults::Get().Next("fsync");
  if (error == 0 || error == kShortTransfer) return 0;
  errno = error;
  return -1;
}

/// Sleeps not at all, so that waiting for a lock costs the test nothing.
int NoSleep(const timespec*, timespec*) {
  int error = SystemCallFaults::Get().Next("nanosleep");
  if (error == 0 || error == kShortTransfer) return 0;
  errno = error;
  return -1;
}

/// Puts the replacements in place for as long as it lives; sleeping costs nothing meanwhile.
class Replacements {
 public:
  Replacements() {
    PRUNE_SYSTEM_CALLS(PRUNE_REPLACE_CALL)
    os::flock = ObservedFlock;
    os::fallocate = ObservedFallocate;
    os::posix_fallocate = ObservedPosixFallocate;
    os::read = ObservedRead;
    os::writev = ObservedWritev;
    os::rename = ObservedRename;
    os::fsync = ObservedFsync;
    os::nanosleep = NoSleep;
    os::close = ReleasingClose;
  }
  ~Replacements() {
    SystemCallFaults::Get().Stop();
    PRUNE_SYSTEM_CALLS(PRUNE_RESTORE_CALL)
  }
};

/// A short name for some content, for comparing it.
std::string Digest(const std::string& content) {
  return std::to_string(content.size()) + " bytes #" +
         std::to_string(std::hash<std::string>()(content) % 1000000);
}

/// Everything in a folder that a save must keep or may change, entry by entry: kind, mode,
/// owner, group, links, extended attributes, the content of a file and the target of a link.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string path = entry.path().string();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
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
    if (S_ISREG(st.st_mode)) state += " content " + Digest(ReadFile(path));
    if (S_ISLNK(st.st_mode)) state += " link " + fs::read_symlink(path).string();
    entries[entry.path().lexically_relative(folder).string()] = state;
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

const std::string kOldProgram = [] {
  std::string program;
  for (int i = 0; i < 300; ++i) program += "G01 A" + std::to_string(i) + "\r\n";
  return program;
}();
const std::string kShorterProgram = kOldProgram.substr(0, kOldProgram.size() / 3);
const std::string kLongerProgram = kOldProgram + kOldProgram;

/// One way into the save: the files it starts from, the program it reads and the file it writes.
struct Situation {
  std::string name;
  std::function<void(TempFolder&)> set_up;
  std::string program = "part.nc";
  std::string output = "part.nc";
  std::string content = kShorterProgram;
  /// Where the output really lies (a link's target), as seen from the folder.
  std::string written = "part.nc";
  /// Whether the file is to be written in place rather than replaced by a rename.
  bool in_place = false;
};

void Program(TempFolder& folder) {
  folder.Write("part.nc", kOldProgram);
  chmod(folder.At("part.nc").c_str(), 0640);
  setxattr(folder.At("part.nc").c_str(), "user.machine", "3", 1, 0);
}

void LinkedProgram(TempFolder& folder) {
  Program(folder);
  ASSERT_EQ(link(folder.At("part.nc").c_str(), folder.At("other.nc").c_str()), 0);
}

const Situation kSituations[] = {
    {"rename over the program", Program},
    {"rename over a set-ID program",
     [](TempFolder& folder) {
       Program(folder);
       chmod(folder.At("part.nc").c_str(), 06755);
     }},
    {"in place: a second link, shorter", LinkedProgram, "part.nc", "part.nc", kShorterProgram,
     "part.nc", true},
    {"in place: a second link, longer", LinkedProgram, "part.nc", "part.nc", kLongerProgram,
     "part.nc", true},
    {"a new .tap", Program, "part.nc", "part.tap", kShorterProgram, "part.tap"},
    {"over an existing .tap",
     [](TempFolder& folder) {
       Program(folder);
       folder.Write("part.tap", "old tap");
     },
     "part.nc", "part.tap", kShorterProgram, "part.tap"},
    {"a program reached through a symbolic link",
     [](TempFolder& folder) {
       folder.Write("real/part.nc", kOldProgram);
       fs::create_symlink("real/part.nc", folder.At("part.nc"));
     },
     "part.nc", "part.nc", kShorterProgram, "real/part.nc"},
    {"a .tap link whose target is not there yet",
     [](TempFolder& folder) {
       Program(folder);
       fs::create_directory(folder.At("out"));
       fs::create_symlink("out/result.tap", folder.At("part.tap"));
     },
     "part.nc", "part.tap", kShorterProgram, "out/result.tap"},
    {"a program in a folder with a default access list",
     [](TempFolder& folder) {
       if (!GiveDefaultAccess(folder.path())) GTEST_SKIP() << "no access control lists here";
       folder.Write("part.nc", kOldProgram);
       chmod(folder.At("part.nc").c_str(), 0640);
     }},
    {"a new .tap in a folder with a default access list",
     [](TempFolder& folder) {
       if (!GiveDefaultAccess(folder.path())) GTEST_SKIP() << "no access control lists here";
       folder.Write("part.nc", kOldProgram);
     },
     "part.nc", "part.tap", kShorterProgram, "part.tap"},
};

/// The outcome of one load and save: the failure it raised (empty kind where none) and the folder.
struct Outcome {
  Failure failure;
  std::map<std::string, std::string> folder;
};

Outcome LoadAndSave(const Situation& situation, TempFolder& folder) {
  Outcome outcome;
  try {
    ReadWholeFile(folder.PathOf(situation.program));
    ReplaceWholeFile(folder.PathOf(situation.output), situation.content);
  } catch (const Failure& failure) {
    outcome.failure = failure;
  }
  SystemCallFaults::Get().Stop();
  outcome.folder = Snapshot(folder.path());
  return outcome;
}

/// Where `a` and `b` differ, entry by entry.
std::string Difference(const std::map<std::string, std::string>& a,
                       const std::map<std::string, std::string>& b) {
  std::string difference;
  for (const auto& [name, state] : a) {
    auto other = b.find(name);
    if (other == b.end())
      difference += "\n  only before: " + name;
    else if (other->second != state)
      difference += "\n  " + name + ":\n    " + state.substr(0, 200) + "\n    " +
                    other->second.substr(0, 200);
  }
  for (const auto& [name, state] : b) {
    if (!a.count(name)) difference += "\n  only after: " + name + " " + state.substr(0, 80);
  }
  return difference;
}

std::string Describe(const Fault& fault) {
  std::string error =
      fault.error == kShortTransfer ? "a short transfer" : strerrorname_np(fault.error);
  return fault.name + " #" + std::to_string(fault.nth) + " with " + error;
}

/// The mode that a file created with 0666 gets in `folder` (by the umask or a default access
/// list), with its extended attributes.
std::string NewFileState(const std::string& folder, const std::string& content) {
  std::string path = folder + "/reference";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  std::string state = Snapshot(folder)["reference"];
  unlink(path.c_str());
  return state;
}

/// The promises of a good run that lie in the order of its calls, which no outcome shows: the load
/// reads under a shared lock; the file is renamed where that keeps everything; a renamed file was
/// flushed first; a file written in place is locked, and room for its whole new content reserved,
/// before its first byte changes.
std::string BrokenPromises(const std::vector<std::string>& calls, size_t size, bool in_place) {
  std::string broken;
  bool renamed = std::find(calls.begin(), calls.end(), "rename") != calls.end();
  if (renamed == in_place) broken += in_place ? " renamed;" : " written in place;";
  auto first = [&](const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) - calls.begin();
  };
  if (first("shared lock") > first("read")) broken += " read without the shared lock;";
  auto rename = std::find(calls.begin(), calls.end(), "rename");
  if (rename != calls.end()) {
    auto last_write = std::find(std::make_reverse_iterator(rename), calls.rend(), "write");
    if (std::find(last_write.base(), rename, "flush") == rename) broken += " renamed unflushed;";
    return broken;
  }
  auto write = calls.begin() + first("write");
  if (std::find(calls.begin(), write, "exclusive lock") == write) broken += " written unlocked;";
  bool reserved = std::any_of(calls.begin(), write, [size](const std::string& call) {
    return call.starts_with("reserved ") && std::stoul(call.substr(9)) >= size;
  });
  if (!reserved) broken += " written without room reserved for all of it;";
  return broken;
}

const std::vector<int> kErrors = {EIO,   ENOSPC, EDQUOT,     EFBIG, EACCES,        EPERM,
                                  EROFS, ENOLCK, EOPNOTSUPP, EINTR, kShortTransfer};

TEST(SaveFaultsPosixTest, EveryCallFailsInTurnAndTheFileStaysWhole) {
  int tried = 0, calls = 0;
  for (const Situation& situation : kSituations) {
    SCOPED_TRACE(situation.name);
    std::map<std::string, std::string> before, after;
    std::vector<CallCount> counts;
    {
      TempFolder folder;
      situation.set_up(folder);
      if (testing::Test::IsSkipped()) return;
      before = Snapshot(folder.path());
      Replacements replacements;
      SystemCallFaults::Get().Trace();
      events.clear();
      Outcome good = LoadAndSave(situation, folder);
      ASSERT_EQ(good.failure.kind, "") << NativeFromText(good.failure.message);
      counts = SystemCallFaults::Get().counts();
      EXPECT_EQ(BrokenPromises(events, situation.content.size(), situation.in_place), "");
      after = good.folder;
      // A good run changes the content of the file it writes, and nothing else.
      std::map<std::string, std::string> expected = before;
      std::string& written = expected[situation.written];
      if (written.empty()) {
        written = NewFileState(folder.path(), situation.content);
      } else {
        written =
            written.substr(0, written.find(" content ")) + " content " + Digest(situation.content);
      }
      if (situation.written == "part.nc" && expected.count("other.nc")) {
        expected["other.nc"] = written;
      }
      EXPECT_EQ(Difference(expected, after), "");
    }
    calls += counts.size();
    for (const Fault& fault : FaultsToTry(counts, kErrors, {"read", "writev"})) {
      SCOPED_TRACE(Describe(fault));
      TempFolder folder;
      situation.set_up(folder);
      Replacements replacements;
      SystemCallFaults::Get().Arm(fault);
      Outcome outcome = LoadAndSave(situation, folder);
      ++tried;
      if (outcome.failure.kind.empty()) {
        EXPECT_EQ(Difference(after, outcome.folder), "");
        continue;
      }
      EXPECT_EQ(Difference(before, outcome.folder), "")
          << outcome.failure.kind << " " << NativeFromText(outcome.failure.message);
      const std::string kinds[] = {"EFOpenError", "EReadError", "EFCreateError", "EWriteError"};
      EXPECT_NE(std::find(std::begin(kinds), std::end(kinds), outcome.failure.kind),
                std::end(kinds))
          << outcome.failure.kind;
      std::string message = NativeFromText(outcome.failure.message);
      if (fault.error != kShortTransfer && outcome.failure.kind.starts_with("EF")) {
        EXPECT_TRUE(message.ends_with(strerror(fault.error))) << message;
      }
    }
  }
  std::cout << "[ figures  ] " << std::size(kSituations) << " situations, " << calls
            << " kinds of call, " << tried << " faults tried\n";
}

const Situation& SituationNamed(const std::string& name) {
  return *std::find_if(std::begin(kSituations), std::end(kSituations),
                       [&](const Situation& situation) { return situation.name == name; });
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
      // A file system without locks is used without them.
      {"rename over the program", "flock", 1, ENOLCK, ""},
      {"in place: a second link, shorter", "flock", 2, EOPNOTSUPP, ""},
      {"in place: a second link, shorter", "flock", 2, EINVAL, ""},
      // The new file refuses the program's attributes: the program is written in place.
      {"rename over the program", "fsetxattr", 1, EPERM, ""},
      // What the file itself refuses fails the run, with the old content written back.
      {"in place: a second link, shorter", "fsync", 1, EIO, "EWriteError"},
      {"in place: a second link, longer", "fallocate", 1, ENOSPC, "EWriteError"},
      {"in place: a second link, longer", "writev", 1, EIO, "EWriteError"},
  };
  for (const Case& c : cases) {
    const Fault fault = {c.call, c.nth, c.error};
    SCOPED_TRACE(std::string(c.situation) + ", " + Describe(fault));
    const Situation& situation = SituationNamed(c.situation);
    TempFolder folder;
    situation.set_up(folder);
    if (testing::Test::IsSkipped()) return;
    std::string old_content = folder.Read(situation.written);
    Replacements replacements;
    SystemCallFaults::Get().Arm(fault);
    Outcome outcome = LoadAndSave(situation, folder);
    EXPECT_TRUE(SystemCallFaults::Get().fired());
    EXPECT_EQ(outcome.failure.kind, c.kind) << NativeFromText(outcome.failure.message);
    EXPECT_EQ(Digest(folder.Read(situation.written)),
              Digest(std::string(c.kind).empty() ? situation.content : old_content));
  }
}

TEST(SaveFaultsPosixTest, ALockHeldForEverIsGivenUp) {
  TempFolder folder;
  folder.Write("part.nc", kOldProgram);
  Replacements replacements;
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

}  // namespace
