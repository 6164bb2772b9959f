// The ways of the save on Windows, between which the save chooses (save_win32.cpp).
#pragma once

#include <windows.h>

#include "base/text.h"
#include "files/file_failures.h"
#include "files/file_stamp.h"
#include "files/open_file_win32.h"
#include "save/save.h"

/// The file that is there, open for the save, shared with nobody.
struct Existing {
  Handle file;
  BY_HANDLE_FILE_INFORMATION information = {};
  FileStamp stamp;
};

/// How the way by rename ended: with the save's outcome, or with nothing changed and the file
/// to be written in place instead.
struct Renamed {
  bool in_place = false;
  SaveOutcome outcome;  ///< where not `in_place`
};

/// Whether a new file can be given everything that the open file has: it has no further names,
/// no attributes but those a new file takes, no named streams and no label of its own.
bool NewFileCanKeepAll(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information);

/// The new content goes to a new file beside `target`, which is given the old file's security,
/// attributes and creation time before its first byte, is written and flushed, and then takes
/// the old file's name in one step: a run ended at any moment leaves the old content or the new
/// under the name, never a mix and never nothing. Hands over to the way in place, with nothing
/// changed, where the new file cannot be given all that, there is no room for a second copy, or
/// it cannot be put in place; the existing file may then have been let go.
Renamed ReplaceByRename(Existing& existing, const Text& target, const FileContent& content);

/// Makes the file at `target`, which is not there yet, with the content: written under a name of
/// its own beside it and renamed once complete, so that nothing bears the name before the whole
/// result; where no file can be made or renamed there, written where it is to go. The create
/// failure when it cannot be made and the write failure when the content cannot be written; a
/// file not completely written goes with its handle.
SaveOutcome CreateNew(const Text& target, const FileContent& content);

/// Writes the content into the open existing file at `target` itself, which keeps everything it
/// has. The old content goes to a backup first, which stays only where it is the one whole copy
/// left, and the failure then names it.
SaveOutcome WriteInPlace(HANDLE file, const Text& target, const FileContent& content);
