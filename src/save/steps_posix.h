// The steps that both ways of the save take on POSIX systems: the outcome of a failed step, the
// writes of the content, the files that the save makes (by a name and by which file each is),
// and the flush of a folder's names. Each step gives what it came to as a value (Step, Found).
// Every system call goes through the seam in system_calls_posix.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "files/file_failures.h"
#include "files/file_stamp.h"
#include "files/open_file_posix.h"
#include "save/save.h"

// ---------------------------------------------------------------------------------------------
// The outcome of a failed step

/// The error of a path that names no regular file, which the system has no text for.
constexpr int kNoRegularFile = -1;

/// The outcome `kind`, with the system's text for `error` where it is not 0.
SaveOutcome Failed(SaveOutcome::Kind kind, int error = 0);

/// Whether the file at `target` is still in the state `loaded`, where that is given: saved (as
/// an outcome: go on), changed meanwhile, or the create failure where it cannot be told.
SaveOutcome CheckUnchanged(const std::string& target, const FileStamp* loaded);

/// Whether `error` says that there is no room (on the disk, in a quota, in a file).
bool OutOfRoom(int error);

// ---------------------------------------------------------------------------------------------
// Writing

/// Writes `content` at the descriptor's position; `*written` counts the bytes that reached it.
/// Failed where a write fails.
Step WriteContent(int fd, const FileContent& content, uint64_t* written);

// ---------------------------------------------------------------------------------------------
// The files that the save makes

/// `name` in the folder `folder`, a folder part with its trailing slash or empty for the working
/// folder, which is where a bare relative name lies.
std::string InFolder(std::string_view folder, std::string_view name);

/// Flushes the names in `folder` (a folder part, as for InFolder) to disk: a rename, create or
/// removal there survives a power cut only then. A file system that has no flush for folders (a
/// network share, many FUSE file systems) refuses it as unsupported: its names are then as
/// lasting as it makes them, and that is no failure.
Step SyncFolder(std::string_view folder);

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
  /// at.
  enum Naming { kThisFile, kNotThisFile, kUnknown };
  Naming NamingOf(const std::string& name) const;
  /// Whether `name` is seen to name this file.
  bool NamedBy(const std::string& name) const { return NamingOf(name) == kThisFile; }
  /// Removes the name `name` where it names this file; where that cannot be told, it stays.
  void RemoveName(const std::string& name) const;
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

/// A file that the save created: its descriptor (-1 where `step` failed) and which file it is.
struct Created {
  Step step;
  int fd = -1;
  MadeFile made;
};

/// A new file of a short name of its own in `folder` (a folder part), created with `mode` (which
/// the umask or the folder's default access list then narrow, as for any new file). The name is
/// short enough for every file system, whatever the name of the file it stands in for.
Created CreateTemporaryFile(std::string_view folder, mode_t mode);
