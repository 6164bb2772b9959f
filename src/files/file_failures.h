// The failures of loading and saving an NC program file, with their fixed texts, and how a save
// ended.
#pragma once

#include "base/text.h"

/// "EFOpenError": the file at `path` cannot be opened for reading; `system_text` says why.
[[noreturn]] void RaiseOpenFailure(const Text& path, TextView system_text);

/// "EFCreateError": the file at `path` cannot be created for writing; `system_text` says why.
[[noreturn]] void RaiseCreateFailure(const Text& path, TextView system_text);

/// "EWriteError": the new content could not be written completely.
[[noreturn]] void RaiseWriteFailure();

/// "EWriteError": the new content could not be written completely, and the old content could not
/// be written back either: the file at `path` may now hold a mix of both. `backup`, unless
/// empty, is the file that holds the old content whole, and the message names it.
[[noreturn]] void RaiseRestoreFailure(const Text& path, const Text& backup);

/// "EWriteError": the new content is whole in the file at `path`, but not surely on disk yet.
[[noreturn]] void RaiseNotYetLastingFailure(const Text& path);

/// "EReadError": the read delivered less than the file's size.
[[noreturn]] void RaiseReadFailure();

/// "EReadError": the file at `path` is too large to be held in memory at once (2 GiB or more).
[[noreturn]] void RaiseTooLargeFailure(const Text& path);

/// How a save, or one way of saving, ended: saved, or one of the failures that the save raises
/// at its top.
struct SaveOutcome {
  enum Kind {
    kSaved,             ///< the new content is in the file and on disk
    kCreateFailed,      ///< the create failure; nothing changed
    kWriteFailed,       ///< the write failure; the file is as it was
    kRestoreFailed,     ///< the write failure, and the old content could not be written back
    kChangedMeanwhile,  ///< the file is no longer the one loaded; nothing written
    kNotYetLasting,     ///< the write failure; the new content is in place, maybe not on disk
  };
  Kind kind = kSaved;
  Text reason;  ///< the system's text, for the create failure
  Text backup;  ///< where the old content lies whole, for kRestoreFailed; empty if nowhere
};

/// Raises the failure that `outcome` stands for, for the file at `path`; returns after kSaved.
void RaiseSaveFailure(const Text& path, const SaveOutcome& outcome);

/// The system's error text without its trailing blanks, control characters and full stops.
TextView TrimSystemText(TextView text);
