// The steps that both ways of the save take on Windows: the outcome of a failed step, the
// writes of the content, the patience with a file that another program holds for a moment, the
// files that the save makes (deleted through their own handles, never by a name) and their
// names. Each step gives what it came to as a value (Step, Found). Every call that can fail goes
// through the seam in system_calls_win32.h.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "files/open_file_win32.h"
#include "save/outcome.h"
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

/// Writes all of `bytes` at `*position`, which it moves on: one request, then one for the rest as
/// long as some is left. A request after the first that writes nothing fails the whole write; a
/// failing request writes nothing. Each request names where it writes, so that one that took
/// effect before it failed is written again over the same bytes.
Step WriteAll(HANDLE file, std::string_view bytes, uint64_t* position);

/// Writes all of `bytes` from the start of the file.
Step WriteFromStart(HANDLE file, std::string_view bytes);

/// Writes `content` from the start of the file, a request for each slice (the content gathers
/// short slices itself).
Step WriteContent(HANDLE file, const FileContent& content);

/// Moves the file's position to `position`.
Step MoveTo(HANDLE file, int64_t position);

/// Makes the file `size` bytes long.
Step SetLength(HANDLE file, int64_t size);

// ---------------------------------------------------------------------------------------------
// A file that another program holds

/// How long a file that another program holds for a moment is waited for, in milliseconds.
constexpr DWORD kHoldPatience = 2000;

/// Whether `error` says that some other program has the file open for a moment (a virus
/// scanner, the search indexer, a sync client). An open may also meet "access denied" then, from
/// a file whose deletion is pending.
bool Held(DWORD error, bool denied_too);

/// Calls `attempt`, which gives a Step, until it is done, for about two seconds at most while it
/// fails because some other program holds the file (Held). Gives what the last attempt came to.
template <typename Attempt>
Step RetryWhileHeld(Attempt attempt, bool denied_too) {
  DWORD pause = 10;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(pause * 2, 250)) {
    const Step step = attempt();
    if (step.done() || !Held(step.error(), denied_too) || waited >= kHoldPatience) return step;
    os::Sleep(pause);
  }
}

/// Opens the existing file at `path` for reading and writing with no sharing: nobody else may
/// open it while the save holds it, and the open fails while anybody else has it open.
Found<HANDLE> OpenExclusively(const Text& path);

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
