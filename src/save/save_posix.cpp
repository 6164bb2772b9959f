// The save on POSIX systems: what the target is, and the way that keeps everything it has (see
// ways_posix.h). There are no share modes here; advisory locks keep a load and an in-place save
// of the same file apart. Every system call goes through the seam in system_calls_posix.h.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "base/path.h"
#include "files/link_walk_posix.h"
#include "save/save.h"
#include "save/steps_posix.h"
#include "save/ways_posix.h"

namespace {

// ---------------------------------------------------------------------------------------------
// What the target is

/// Whether the existing file `target`, whose status is `existing`, was planted in a shared folder
/// by somebody else. Failed where the folder cannot be looked at.
Found<bool> PlantedFile(const std::string& target, const struct stat& existing) {
  struct stat folder;
  std::string_view part = FolderPart(target);
  if (os::stat(part.empty() ? "." : std::string(part).c_str(), &folder) != 0) {
    return {Step::Failed(errno), false};
  }
  return {Step::Done(), PlantedInSharedFolder(existing.st_uid, folder)};
}

/// The file that the save writes, or, where `outcome` is no success, why nothing may be written.
struct Checked {
  SaveOutcome outcome;
  Target target;
};

/// Checks what would make the create of the file at `path` fail before anything is written: a
/// link that may not be followed, a folder, no regular file, a read-only file; one that was
/// loaded (`loaded`) and removed meanwhile; a file of the run's own making that somebody else
/// put in a shared folder first.
Checked CheckTarget(const std::string& path, const FileStamp* loaded) {
  auto failed = [](SaveOutcome::Kind kind, int error = 0) {
    return Checked{Failed(kind, error), {}};
  };
  const Found<std::string> final_target = FinalTarget(path);
  if (!final_target.step.done()) {
    return failed(SaveOutcome::kCreateFailed, final_target.step.error());
  }
  Checked checked = {SaveOutcome(), {final_target.value}};
  Target& target = checked.target;
  struct stat& status = target.status;
  if (os::stat(target.path.c_str(), &status) != 0) {
    if (errno != ENOENT) return failed(SaveOutcome::kCreateFailed, errno);
    return loaded ? failed(SaveOutcome::kChangedMeanwhile) : checked;  // removed meanwhile
  }
  if (S_ISDIR(status.st_mode)) return failed(SaveOutcome::kCreateFailed, EISDIR);
  if (!S_ISREG(status.st_mode)) return failed(SaveOutcome::kCreateFailed, kNoRegularFile);
  // A file without any write permission bit is read-only, also for the superuser.
  if ((status.st_mode & 0222) == 0) return failed(SaveOutcome::kCreateFailed, EACCES);
  if (os::access(target.path.c_str(), W_OK) != 0) return failed(SaveOutcome::kCreateFailed, errno);
  target.exists = true;
  // A file of the run's own making (the .tap) that somebody else put in a shared folder first
  // is theirs to read: it gets nothing. The program the user named is the user's choice.
  if (loaded) return checked;
  const Found<bool> planted = PlantedFile(target.path, status);
  if (!planted.step.done()) return failed(SaveOutcome::kCreateFailed, planted.step.error());
  return planted.value ? failed(SaveOutcome::kCreateFailed, EACCES) : checked;
}

// ---------------------------------------------------------------------------------------------
// The choice between the ways

/// Saves `content` as the file at `path` in the way that keeps everything the file has; over
/// the file loaded where `loaded` is given, else as a file of the run's own making. The way in
/// place writes the content known whole.
SaveOutcome Save(const std::string& path, const ContentStream& content, const FileStamp* loaded,
                 mode_t new_file_mode) {
  const Checked checked = CheckTarget(path, loaded);
  if (checked.outcome.kind != SaveOutcome::kSaved) return checked.outcome;
  const Target& target = checked.target;
  // A file not there yet only ever appears whole under its name: by rename, the only way.
  if (!target.exists) return ReplaceByRename(target, content, nullptr, new_file_mode).outcome;
  // The way by rename where it may keep everything; it hands over where it finds that it does
  // not, or finds no room for a second copy, which the way in place weighs.
  int no_room = 0;
  if (NewFileCanKeepAll(target.status)) {
    const Renamed renamed = ReplaceByRename(target, content, loaded, new_file_mode);
    if (!renamed.in_place) return renamed.outcome;
    no_room = renamed.no_room;
  }
  return WriteInPlace(target.path, content.Whole(), loaded, no_room);
}

}  // namespace

void ReplaceWholeFile(const Text& path, const ContentStream& content, const FileStamp* loaded,
                      uint32_t new_file_permissions) {
  // A write beyond the file size limit must fail the write, not end the process.
  signal(SIGXFSZ, SIG_IGN);
  // The user who writes the new file may write it again: a read-only program's next run too.
  mode_t new_file_mode = (static_cast<mode_t>(new_file_permissions) & 0777) | S_IWUSR;
  RaiseSaveFailure(path, Save(NativeFromText(path), content, loaded, new_file_mode));
}
