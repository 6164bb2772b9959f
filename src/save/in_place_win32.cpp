// The way in place on Windows: where a new file could not keep everything (further links, named
// streams, compression, an owner that this user cannot give, a label of its own) or no room is
// left for a second copy, the file is written in place, its old content kept in a backup file
// until the new is on disk. Every call that can fail goes through the seam in
// system_calls_win32.h.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/path.h"
#include "base/wide_win32.h"
#include "files/system_path_win32.h"
#include "save/backup_name.h"
#include "save/steps_win32.h"
#include "save/ways_win32.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The backup

/// The user's own folder for backups that cannot lie beside the program, in the long form with
/// its trailing backslash: %LOCALAPPDATA%\prune\, made where missing. Empty where there is none.
Text StateFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = os::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(),
                                               static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);
  }
  Text folder = SystemPath(TextFromWide(buffer.data(), buffer.size()) + u"\\prune").value;
  if (folder.empty()) return Text();
  if (!os::CreateDirectoryW(Wide(folder), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Text();
  }
  return folder + u"\\";
}

/// Gives the backup, written and flushed, the first of its names that is free in `folder`: never
/// the name of a file that is there already, since an earlier run's backup may be the only whole
/// copy of a program. The rename is flushed in turn. False where it keeps its own name. Renamed
/// through its handle only: the backup goes through that handle later, and a handle need not
/// follow a file renamed by its name (under Wine it does not).
bool NameBackup(const Text& folder, TextView name, NewFile* backup) {
  constexpr int kAttempts = 100;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    Text named = folder + BackupName<char16_t>(name, attempt);
    if (Step renamed = RenameTo(*backup, named, false, false); !renamed.done()) {
      DWORD error = renamed.error();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      if (RenamedAllTheSame(*backup, named) != AllTheSame::kRenamed) return false;
    }
    backup->Renamed(named);
    // NTFS writes the rename with the flush; where the flush fails, the backup is whole all the
    // same, and its name may only not outlast a cut.
    os::FlushFileBuffers(backup->get());
    return true;
  }
  return false;
}

/// Makes `backup` a file in `folder` holding `old`, that nobody may read who may not read the
/// program: it gets the program's access list `access`, protected from the folder's. Written and
/// flushed under a temporary name of its own, and only then given a backup's name, so that a
/// backup's name only ever holds a whole old program. False where none can be written there.
bool BackupIn(const Text& folder, TextView name, std::string_view old, PACL access,
              NewFile* backup) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, access, FALSE);
  SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
  if (!CreateBeside(folder, backup, &security).done()) return false;
  if (!WriteFromStart(backup->get(), old).done() || !os::FlushFileBuffers(backup->get())) {
    backup->Discard();
    return false;
  }
  // Whole and on disk: where it cannot take a backup's name, it stays under its own until the
  // program's new content is on disk, which is never worse than no backup at all.
  NameBackup(folder, name, backup);
  return true;
}

/// A whole copy of the old content of the open file at `target`, on disk before its first byte
/// changes: beside it, else in the user's state folder. None where it can be made nowhere (the
/// file is then written in place all the same) or where the program's access list cannot be read
/// (a backup could then be read by more people than the program).
void MakeBackup(HANDLE file, const Text& target, std::string_view old, NewFile* backup) {
  PACL access = nullptr;
  LocalMemory descriptor;
  if (os::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &access, nullptr, descriptor.out()) != ERROR_SUCCESS) {
    return;
  }
  TextView name = NamePart(target, u"\\");
  if (BackupIn(FolderOf(target), name, old, access, backup)) return;
  Text state = StateFolder();
  if (!state.empty()) BackupIn(state, name, old, access, backup);
}

// ---------------------------------------------------------------------------------------------
// Overwriting

/// Makes the open file `old` again and flushes it; false when it cannot.
bool Restore(HANDLE file, std::string_view old) {
  return WriteFromStart(file, old).done() &&
         SetLength(file, static_cast<int64_t>(old.size())).done() && os::FlushFileBuffers(file);
}

/// Writes the content into the open file, whose old content is `old`. Its new length is reserved
/// first, so that a full disk shows before any of its bytes change; should a write still fail,
/// the old bytes are written back and the old length restored.
SaveOutcome Overwrite(HANDLE file, std::string_view old, const FileContent& content) {
  const int64_t old_size = static_cast<int64_t>(old.size());
  const int64_t new_size = static_cast<int64_t>(content.Size());
  if (Step reserved = new_size > old_size ? SetLength(file, new_size) : Step::Done();
      !reserved.done()) {
    // The reservation may have taken effect before it failed: the old length goes back to disk.
    if (!SetLength(file, old_size).done() || !os::FlushFileBuffers(file)) {
      return Failed(SaveOutcome::kRestoreFailed);
    }
    return Failed(SaveOutcome::kWriteFailed, reserved.error());
  }
  if (WriteContent(file, content).done() && SetLength(file, new_size).done() &&
      os::FlushFileBuffers(file)) {
    return SaveOutcome();
  }
  return Failed(Restore(file, old) ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The way in place

SaveOutcome WriteInPlace(HANDLE file, const Text& target, const FileContent& content) {
  if (Step moved = MoveTo(file, 0); !moved.done()) {
    return Failed(SaveOutcome::kCreateFailed, moved.error());
  }
  const Found<int64_t> old_size = RemainingSize(file);
  if (!old_size.step.done()) return Failed(SaveOutcome::kCreateFailed, old_size.step.error());
  if (old_size.value >= kMaxFileSize) {
    return Failed(SaveOutcome::kCreateFailed, ERROR_FILE_TOO_LARGE);
  }
  std::string old(static_cast<size_t>(old_size.value), '\0');
  if (Step read = ReadAll(file, old.data(), static_cast<DWORD>(old.size())); !read.done()) {
    return Failed(SaveOutcome::kCreateFailed, read.error());
  }
  NewFile backup;
  MakeBackup(file, target, old, &backup);
  SaveOutcome outcome = Overwrite(file, old, content);
  if (outcome.kind == SaveOutcome::kRestoreFailed && backup.get() != INVALID_HANDLE_VALUE) {
    outcome.backup = WithoutLongPrefix(backup.path());
    backup.Keep();
  }
  return outcome;
}
