// The steps that both ways of the save take on Windows: the outcome of a failed step, the
// writes of the content, the files that the save makes (deleted through their own handles,
// never by a name) and their names. Each step gives what it came to as a value (Step, Found). Every
// call that can fail goes through the seam in system_calls_win32.h.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "files/file_failures.h"
#include "files/open_file_win32.h"
#include "save/save.h"

// ---------------------------------------------------------------------------------------------
// The outcome of a failed step

/// The outcome `kind`, with the system's text for `error` where it is not NO_ERROR.
SaveOutcome Failed(SaveOutcome::Kind kind, DWORD error = NO_ERROR);

/// Whether `error` says that the disk or the quota has no room left.
bool NoRoom(DWORD error);

/// Whether `error` says that the file system does not have what was asked of it at all.
bool NotOffered(DWORD error);

/// Frees what a security call allocated when it goes out of scope.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_) LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Writing

/// Writes `content` from the start of the file, a request for each slice (the content gathers
/// short slices itself).
Step WriteContent(HANDLE file, const FileContent& content);

// ---------------------------------------------------------------------------------------------
// The files that the save makes

/// The folder part of a path, with its last backslash.
Text FolderOf(const Text& path);

/// Where the open file lies, as the system names it: a link's target where it was reached
/// through one, its name as spelled in its folder, in the long form. Empty where the system
/// cannot name it; the file must then be written through the name it was opened by.
Text WhereItLies(HANDLE file);

/// A file that the save makes, open for writing, that others may rename or delete but not open;
/// deleted through its handle unless kept, so that it goes also where its name could not be
/// deleted, and so that nothing else is ever deleted in its place.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { Discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  /// Creates the file at `path`, which must not exist yet, with `security` (the folder's where
  /// null).
  Step Create(const Text& path, SECURITY_ATTRIBUTES* security = nullptr);
  HANDLE get() const { return handle_; }
  const Text& path() const { return path_; }
  /// Notes that the file now has the name `path`.
  void Renamed(const Text& path) { path_ = path; }
  /// Closes the file, which stays. Its content was flushed before, so a close that reports a
  /// failure has lost nothing.
  void Keep();
  /// Deletes the file through its handle and closes it. Asked twice where the first request
  /// fails: a network file system may refuse a request once while it reconnects.
  void Discard();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  Text path_;
};

/// Creates a new file of a short name of its own in `folder`, with `security` (the folder's where
/// null).
Step CreateBeside(const Text& folder, NewFile* file, SECURITY_ATTRIBUTES* security = nullptr);

/// Gives the open new file the name `target` in one step, replacing a file there only where
/// `replace` says so: through its own handle, or, where `by_name_too`, by its name where the file
/// system cannot rename a handle. Waits while others hold the file there for a moment. A rename
/// by the name moves whatever bears it by then, which others may delete or rename: where the
/// target is then seen to be another file than the new one, the rename failed.
Step RenameTo(const NewFile& file, const Text& target, bool replace, bool by_name_too = true);

/// What a rename that reported a failure came to after all: the file took the name, it did
/// not, or that cannot be told (the system cannot name the file).
enum class AllTheSame { kRenamed, kNotRenamed, kUnknown };

/// Whether a rename of the new file to `target` that reported a failure took place all the same.
AllTheSame RenamedAllTheSame(const NewFile& file, const Text& target);
