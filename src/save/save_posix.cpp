// The save on POSIX systems: what the target is, and the way that keeps everything it has (see
// ways_posix.h). There are no share modes here; advisory locks keep a load and an in-place save
// of the same file apart. The save writes a new file beside the user's file and renames it over
// the old one wherever the new file then has everything the old one had (owner, group, mode,
// extended attributes and access lists, its one link); otherwise it writes the file in place,
// with its new length reserved first and the old bytes written back should a write still fail.
// Every system call goes through the seam in system_calls_posix.h.
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/path.h"
#include "files/link_walk_posix.h"
#include "save/save.h"
#include "save/steps_posix.h"
#include "save/ways_posix.h"

namespace {

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
