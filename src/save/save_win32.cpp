// The save on Windows: what the target is, and the way that keeps everything it has (see
// ways_win32.h). The file that is there is held so that nobody else may open it, from its check
// that it is still the one loaded to its last write. A file reached through a link is saved
// where the link leads, as the system names the open file; where it cannot be named, the file
// is written in place, through the link. Every path goes to the system in its long form.
#include <windows.h>

#include "base/wide_win32.h"
#include "files/system_path_win32.h"
#include "save/save.h"
#include "save/steps_win32.h"
#include "save/ways_win32.h"

namespace {

// ---------------------------------------------------------------------------------------------
// What the target is

/// Opens the existing file at `path` for the save and notes its state; the create failure when it
/// cannot be opened, and nothing changed meanwhile when it is no longer the one `loaded`.
SaveOutcome OpenExisting(const Text& path, const FileStamp* loaded, Existing* existing) {
  const Found<HANDLE> opened = OpenExclusively(path);
  existing->file.Reset(opened.value);
  if (!opened.step.done()) return Failed(SaveOutcome::kCreateFailed, opened.step.error());
  if (!os::GetFileInformationByHandle(existing->file.get(), &existing->information)) {
    return Failed(SaveOutcome::kCreateFailed, GetLastError());
  }
  existing->stamp = StampOf(existing->file.get(), existing->information);
  if (loaded && existing->stamp != *loaded) return Failed(SaveOutcome::kChangedMeanwhile);
  return SaveOutcome();
}

/// The file that the save writes: its path in the long form, and where it is there, the file
/// open for the save and where it lies, as the system names it (empty where it cannot).
struct Target {
  Text given;
  bool exists = false;
  Existing existing;
  Text where;
};

/// The file that the save writes, or, where `outcome` is no success, why nothing may be written.
struct Checked {
  SaveOutcome outcome;
  Target target;
};

/// Checks what would make the create of the file at `path` fail before anything is written (a
/// folder, a read-only file, one that was loaded and removed or changed meanwhile), and opens
/// the file that is there for the save, shared with nobody.
Checked CheckTarget(const Text& path, const FileStamp* loaded) {
  Checked checked;
  auto failed = [&checked](SaveOutcome::Kind kind, DWORD error = NO_ERROR) {
    checked.outcome = Failed(kind, error);
    return std::move(checked);
  };
  const Found<Text> given = SystemPath(path);
  if (!given.step.done()) return failed(SaveOutcome::kCreateFailed, given.step.error());
  Target& target = checked.target;
  target.given = given.value;
  DWORD attributes = os::GetFileAttributesW(Wide(target.given));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return failed(SaveOutcome::kCreateFailed, error);
    if (loaded) return failed(SaveOutcome::kChangedMeanwhile);  // removed since the load
    return checked;
  }
  // The create would refuse a folder and a read-only file with "access denied".
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    return failed(SaveOutcome::kCreateFailed, ERROR_ACCESS_DENIED);
  }
  target.exists = true;
  checked.outcome = OpenExisting(target.given, loaded, &target.existing);
  if (checked.outcome.kind == SaveOutcome::kSaved) {
    target.where = WhereItLies(target.existing.file.get());
  }
  return checked;
}

// ---------------------------------------------------------------------------------------------
// The choice between the ways

/// Saves `content` as the file at `path` in the way that keeps everything the file has.
SaveOutcome Save(const Text& path, const FileContent& content, const FileStamp* loaded) {
  Checked checked = CheckTarget(path, loaded);
  if (checked.outcome.kind != SaveOutcome::kSaved) return checked.outcome;
  Target& target = checked.target;
  if (!target.exists) return CreateNew(target.given, content);
  // By rename where the system names the file and a new file can keep everything it has; in
  // place where not, or where the new file finds no room for a second copy.
  Existing& existing = target.existing;
  if (!target.where.empty() && NewFileCanKeepAll(existing.file.get(), existing.information)) {
    const Renamed renamed = ReplaceByRename(existing, target.where, content);
    if (!renamed.in_place) return renamed.outcome;
  }
  // Opened again where the rename let it go: still the same file, in the same state.
  if (!existing.file.valid()) {
    const FileStamp before = existing.stamp;
    if (SaveOutcome opened = OpenExisting(target.given, &before, &existing);
        opened.kind != SaveOutcome::kSaved) {
      return opened;
    }
  }
  return WriteInPlace(existing.file.get(), target.where.empty() ? target.given : target.where,
                      content);
}

}  // namespace

void ReplaceWholeFile(
    const Text& path, const ContentStream& content, const FileStamp* loaded,
    uint32_t /*new_file_permissions: a new file inherits its folder's access list*/) {
  // The save holds the file without sharing from its first check to its last write, so the
  // content is known whole before: a program is read whole at its load here.
  RaiseSaveFailure(path, Save(path, content.Whole(), loaded));
}
