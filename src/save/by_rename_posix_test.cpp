// A new file is handed to the disk a stretch at a time as it is written: every byte of the
// content reaches the file once and in order, however its slices fall on the stretches, and each
// stretch is handed over after its last byte is written, the stretches following each other from
// the start of the file to its end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/failure.h"
#include "files/system_calls_posix.h"
#include "save/save.h"
#include "testing/test_support.h"

namespace {

/// The stretch that the save hands over at a time, as by_rename_posix.cpp has it.
constexpr off_t kStretch = off_t{2} << 20;

/// Content handed over in the batches of slices given, all cut from one long text.
class BatchedContent : public FileContent {
 public:
  BatchedContent(const std::string& text, std::vector<std::vector<size_t>> batches)
      : text_(text), batches_(std::move(batches)) {}
  uint64_t Size() const override {
    uint64_t size = 0;
    for (const auto& batch : batches_) {
      for (size_t length : batch) size += length;
    }
    return size;
  }
  bool WriteTo(const std::function<bool(Slices)>& write) const override {
    size_t at = 0;
    for (const auto& batch : batches_) {
      std::vector<std::string_view> slices;
      for (size_t length : batch) {
        slices.push_back(std::string_view(text_).substr(at, length));
        at += length;
      }
      if (!write(Slices(slices.data(), slices.size()))) return false;
    }
    return true;
  }
  std::string Bytes() const { return text_.substr(0, Size()); }

 private:
  const std::string& text_;
  std::vector<std::vector<size_t>> batches_;
};

/// A range handed to the disk, and how long the file was then.
struct Handed {
  off_t from, length, file_size;
};
std::vector<Handed> handed;

int RecordingSyncFileRange(int fd, off_t offset, off_t length, unsigned int) {
  struct stat st;
  fstat(fd, &st);
  handed.push_back({offset, length, st.st_size});
  return 0;
}

TEST(ByRenamePosixTest, EveryStretchIsHandedOverOnceWrittenAndTheBytesStayInOrder) {
  const size_t S = kStretch;
  std::string text(10 * S, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
  const std::vector<std::vector<size_t>> cases[] = {
      {{100}},                                          // less than a stretch
      {{S}},                                            // exactly one
      {{S / 2, S / 2, 10}, {5}},                        // a slice that ends where a stretch does
      {{S / 4, S / 2, S / 2, 7}},                       // a slice across the end of a stretch
      {{0, 3 * S + 3, 0}, {S - 3, 0}},                  // one slice over several stretches
      {{S - 1}, {1}, {1, S}},                           // a batch that ends a stretch with a byte
      {std::vector<size_t>(1500, 4096), {2 * S + 11}},  // many short slices, then a long one
  };
  for (const auto& batches : cases) {
    BatchedContent content(text, batches);
    SCOPED_TRACE(content.Size());
    TempFolder folder;
    handed.clear();
    auto system_call = os::sync_file_range;
    os::sync_file_range = RecordingSyncFileRange;
    ReplaceWholeFile(folder.PathOf("part.tap"), content);
    os::sync_file_range = system_call;
    EXPECT_TRUE(folder.Read("part.tap") == content.Bytes());
    off_t next = 0;
    for (const Handed& range : handed) {
      EXPECT_EQ(range.from, next);
      EXPECT_GT(range.length, 0);
      EXPECT_LE(range.length, kStretch);
      EXPECT_GE(range.file_size, range.from + range.length) << "handed over before written";
      next = range.from + range.length;
      if (next % kStretch != 0) {
        EXPECT_EQ(next, static_cast<off_t>(content.Size())) << "a stretch cut short";
      }
    }
    EXPECT_EQ(next, static_cast<off_t>(content.Size())) << "not all handed over";
  }
}

/// A flush of the file: its size then, and whether the save's own thread asked for it.
struct Flushed {
  off_t file_size;
  bool by_the_save;
};
std::mutex flushes_mutex;
std::vector<Flushed> flushes;
std::thread::id save_thread;
int fail_other_threads_with = 0;  // the error of a flush on another thread, if not 0

/// Where armed, the first flush on another thread waits until the save has asked for another
/// flush, and then fails: a flush that succeeds follows the one that failed.
struct FirstFlushGate {
  std::mutex mutex;
  std::condition_variable changed;
  int error = 0;      // of the first flush on another thread; 0: not armed
  bool held = false;  // that flush began, and waits
  bool open = false;  // it may go on
};
FirstFlushGate gate;

/// Arms the gate with `error`, or disarms it (0).
void ArmGate(int error) {
  std::lock_guard lock(gate.mutex);
  gate.error = error;
  gate.held = gate.open = false;
}

/// The error of this flush where it is the first on another thread while the gate is armed:
/// then it waited until the gate opened. 0 for any other flush.
int HeldAtTheGate() {
  std::unique_lock lock(gate.mutex);
  if (gate.error == 0 || gate.held) return 0;
  gate.held = true;
  gate.changed.notify_all();
  gate.changed.wait(lock, [] { return gate.open; });
  return gate.error;
}

/// Waits until the first flush on another thread is held at the gate. A watchdog only: the
/// save asks for that flush as soon as its first stretch is written.
void AwaitHeldFlush() {
  std::unique_lock lock(gate.mutex);
  if (!gate.changed.wait_for(lock, std::chrono::seconds(60), [] { return gate.held; })) {
    ADD_FAILURE() << "no flush on a thread of its own after the first stretch";
  }
}

void OpenGate() {
  std::lock_guard lock(gate.mutex);
  gate.open = true;
  gate.changed.notify_all();
}

/// Content of whole stretches, handed over a stretch a batch. Once the first is written, it
/// waits for the flush that the stretch asked for to be held at the gate; once the second is
/// written, which asked for another flush while that one was held, it opens the gate.
class StretchByStretch : public FileContent {
 public:
  explicit StretchByStretch(const std::string& text) : text_(text) {}
  uint64_t Size() const override { return text_.size(); }
  bool WriteTo(const std::function<bool(Slices)>& write) const override {
    bool written = true;
    for (size_t at = 0; written && at < text_.size(); at += kStretch) {
      std::string_view stretch = std::string_view(text_).substr(at, kStretch);
      written = write(Slices(&stretch, 1));
      if (written && at == 0) AwaitHeldFlush();
      if (at == kStretch) OpenGate();
    }
    OpenGate();
    return written;
  }

 private:
  const std::string& text_;
};

int RecordingFsync(int fd) {
  struct stat st;
  fstat(fd, &st);
  const bool by_the_save = std::this_thread::get_id() == save_thread;
  {
    std::lock_guard lock(flushes_mutex);
    flushes.push_back({st.st_size, by_the_save});
  }
  if (int error = by_the_save ? 0 : HeldAtTheGate(); error != 0) {
    errno = error;
    return -1;
  }
  if (!by_the_save && fail_other_threads_with != 0) {
    errno = fail_other_threads_with;
    return -1;
  }
  return fsync(fd);
}

/// Saves `content` as `name` in `folder` with every flush recorded; the failure's kind, or
/// empty.
std::string SaveRecordingFlushes(const TempFolder& folder, const std::string& name,
                                 const FileContent& content) {
  flushes.clear();
  save_thread = std::this_thread::get_id();
  auto system_call = os::fsync;
  os::fsync = RecordingFsync;
  std::string failure;
  try {
    ReplaceWholeFile(folder.PathOf(name), content);
  } catch (const Failure& raised) {
    failure = raised.kind;
  }
  os::fsync = system_call;
  return failure;
}
std::string SaveRecordingFlushes(const TempFolder& folder, const std::string& name,
                                 const std::string& content) {
  return SaveRecordingFlushes(folder, name, ContiguousContent(content));
}

TEST(ByRenamePosixTest, ALargeFileIsFlushedOnAThreadOfItsOwnBeforeTheLastFlush) {
  const std::string content(5 * kStretch + 3, 'x');
  TempFolder folder;
  EXPECT_EQ(SaveRecordingFlushes(folder, "part.tap", content), "");
  EXPECT_TRUE(folder.Read("part.tap") == content);
  ASSERT_GE(flushes.size(), 2u);
  EXPECT_FALSE(flushes.front().by_the_save) << "no flush on a thread of its own";
  auto last = std::find_if(flushes.begin(), flushes.end(),
                           [](const Flushed& flush) { return flush.by_the_save; });
  ASSERT_NE(last, flushes.end());
  EXPECT_EQ(last->file_size, static_cast<off_t>(content.size()));
  EXPECT_TRUE(std::all_of(last, flushes.end(), [](const Flushed& f) { return f.by_the_save; }))
      << "a flush on another thread after the save's own";
  // A file of less than a stretch is flushed by the save alone, right after its last write.
  EXPECT_EQ(SaveRecordingFlushes(folder, "small.tap", "G01 A1\r\n"), "");
  EXPECT_TRUE(std::all_of(flushes.begin(), flushes.end(),
                          [](const Flushed& flush) { return flush.by_the_save; }));
}

TEST(ByRenamePosixTest, AFlushThatFailsOnItsOwnThreadFailsTheSaveOrTakesTheWayInPlace) {
  const std::string content(3 * kStretch, 'n');
  const std::string five_stretches(5 * kStretch, 'f');
  struct Case {
    bool existing;
    int error;
    const char* failure;  // empty where the save succeeds
    // Only the first flush on the thread fails, with `error`, and later ones succeed: the
    // system told of the failed write once, and the save must not forget it.
    bool first_only = false;
  } cases[] = {
      {false, EIO, "EWriteError"},
      {true, EIO, "EWriteError"},
      {false, ENOSPC, "EWriteError"},
      {true, ENOSPC, ""},  // no room for a second copy: the file is written in place
      {false, EIO, "EWriteError", true},
      {true, EIO, "EWriteError", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.existing ? "over a file, " : "a new file, ") + strerror(c.error) +
                 (c.first_only ? " on the first flush only" : ""));
    TempFolder folder;
    if (c.existing) folder.Write("part.nc", "old");
    const std::string& bytes = c.first_only ? five_stretches : content;
    std::string failure;
    if (c.first_only) {
      ArmGate(c.error);
      failure = SaveRecordingFlushes(folder, "part.nc", StretchByStretch(bytes));
      ArmGate(0);
      EXPECT_GE(std::count_if(flushes.begin(), flushes.end(),
                              [](const Flushed& flush) { return !flush.by_the_save; }),
                2)
          << "no flush on the thread after the one that failed";
    } else {
      fail_other_threads_with = c.error;
      failure = SaveRecordingFlushes(folder, "part.nc", bytes);
      fail_other_threads_with = 0;
    }
    EXPECT_EQ(failure, c.failure);
    if (failure.empty()) {
      EXPECT_TRUE(folder.Read("part.nc") == bytes);
    } else if (c.existing) {
      EXPECT_EQ(folder.Read("part.nc"), "old");
    }
    EXPECT_EQ(folder.Names().size(), c.existing || failure.empty() ? 1u : 0u)
        << "a file of the save left behind";
  }
}

/// A call of the save that changes the new file or names it, in the order made: its name, the
/// descriptor it was made on (-1 for a path), and whether the save's own thread made it.
struct Call {
  std::string name;
  int fd;
  bool by_the_save;
};
std::mutex calls_mutex;
std::vector<Call> calls;

void Note(const char* name, int fd) {
  std::lock_guard lock(calls_mutex);
  calls.push_back({name, fd, std::this_thread::get_id() == save_thread});
}
ssize_t NotedWritev(int fd, const iovec* vectors, int count) {
  Note("writev", fd);
  return writev(fd, vectors, count);
}
int NotedFsync(int fd) {
  Note("fsync", fd);
  return fsync(fd);
}
int NotedFchown(int fd, uid_t owner, gid_t group) {
  Note("fchown", fd);
  return fchown(fd, owner, group);
}
int NotedFchmod(int fd, mode_t mode) {
  Note("fchmod", fd);
  return fchmod(fd, mode);
}
int NotedFsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  Note("fsetxattr", fd);
  return fsetxattr(fd, name, value, size, flags);
}
int NotedFremovexattr(int fd, const char* name) {
  Note("fremovexattr", fd);
  return fremovexattr(fd, name);
}
int NotedRename(const char* from, const char* to) {
  Note("rename", -1);
  return rename(from, to);
}

/// The calls that `save` makes, in order.
template <typename Save>
std::vector<Call> CallsOf(Save save) {
  calls.clear();
  save_thread = std::this_thread::get_id();
  auto system_calls = std::make_tuple(os::writev, os::fsync, os::fchown, os::fchmod, os::fsetxattr,
                                      os::fremovexattr, os::rename);
  os::writev = NotedWritev;
  os::fsync = NotedFsync;
  os::fchown = NotedFchown;
  os::fchmod = NotedFchmod;
  os::fsetxattr = NotedFsetxattr;
  os::fremovexattr = NotedFremovexattr;
  os::rename = NotedRename;
  save();
  std::tie(os::writev, os::fsync, os::fchown, os::fchmod, os::fsetxattr, os::fremovexattr,
           os::rename) = system_calls;
  return calls;
}

TEST(ByRenamePosixTest, AFileOfWholeStretchesIsFlushedBySaveAfterItsLastChange) {
  // The flushes on the thread of their own end with the last stretch written; what the save
  // changes after them (the owner, mode and attributes taken over) is flushed by its own flush,
  // before the rename gives the file its name.
  const std::string content(3 * kStretch, 'w');
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over a file" : "a new file");
    TempFolder folder;
    bool attribute = false;
    if (existing) {
      folder.Write("part.nc", "old");
      chmod(folder.At("part.nc").c_str(), 0640);
      // Where the file system takes one, so that the attributes are taken over too.
      attribute = setxattr(folder.At("part.nc").c_str(), "user.prune.test", "3", 1, 0) == 0;
    }
    const std::vector<Call> made =
        CallsOf([&] { ReplaceWholeFile(folder.PathOf("part.nc"), content); });
    EXPECT_TRUE(folder.Read("part.nc") == content);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
    auto named = [&](const char* name) {
      return std::find_if(made.begin(), made.end(), [&](const Call& c) { return c.name == name; });
    };
    const auto rename = named("rename");
    ASSERT_NE(rename, made.end()) << "not saved by rename";
    const int file = named("writev")->fd;
    // The new file's last change before the rename.
    auto last_change =
        std::find_if(std::make_reverse_iterator(rename), made.rend(),
                     [&](const Call& c) { return c.fd == file && c.name != "fsync"; });
    ASSERT_NE(last_change, made.rend());
    if (existing) {
      EXPECT_NE(named("fchown"), rename) << "the owner not taken over";
      EXPECT_NE(named("fchmod"), rename) << "the mode not taken over";
      EXPECT_EQ(named("fsetxattr") < rename, attribute) << "the attribute not taken over";
    }
    EXPECT_TRUE(std::any_of(
        last_change.base(), rename,
        [&](const Call& c) { return c.name == "fsync" && c.fd == file && c.by_the_save; }))
        << "the save did not flush the file after its last change (" << last_change->name
        << ") and before the rename";
  }
}

}  // namespace
