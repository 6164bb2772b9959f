// The ways of the save on Windows, between which the save chooses (save_win32.cpp).
#pragma once

#include <windows.h>

#include "base/text.h"
#include "files/file_stamp.h"
#include "files/open_file_win32.h"
#include "save/outcome.h"
#include "save/save.h"

/// The file that is there, open for the save, shared with nobody.
struct Existing {
  Handle file;
  BY_HANDLE_FILE_INFORMATION information = {};
  FileStamp stamp;
};

/// The new content goes to a new file beside `target`, which is given the old file's security,
/// attributes and creation time before its first byte, is written and flushed, and then takes
/// the old file's name in one step: a run ended at any moment leaves the old content or the new
/// under the name, never a mix and never nothing. Another way, with nothing changed, where the
/// new file cannot be given all that, there is no room for a second copy, or it cannot be put
/// in place.
SaveOutcome ReplaceByRename(Existing& existing, const Text& target, const FileContent& content);

/// Writes the content into the open existing file at `target` itself, which keeps everything it
/// has. The old content goes to a backup first, which stays only where it is the one whole copy
/// left, and the failure then names it.
SaveOutcome WriteInPlace(HANDLE file, const Text& target, const FileContent& content);

/// Makes the file at `target`, which is not there yet, with the content: written under a name of
/// its own beside it and renamed once complete, so that nothing bears the name before the whole
/// result; where no file can be made or renamed there, written where it is to go. The create
/// failure when it cannot be made and the write failure when the content cannot be written; a
/// file not completely written goes with its handle.
SaveOutcome CreateNew(const Text& target, const FileContent& content);
