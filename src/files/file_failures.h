// The failures of loading and saving an NC program file, with their fixed texts.
#pragma once

#include "base/text.h"

/// "EFOpenError": the file at `path` cannot be opened for reading; `system_text` says why.
[[noreturn]] void RaiseOpenFailure(const Text& path, TextView system_text);

/// "EFCreateError": the file at `path` cannot be created for writing; `system_text` says why.
[[noreturn]] void RaiseCreateFailure(const Text& path, TextView system_text);

/// "EWriteError": the new content could not be written completely.
[[noreturn]] void RaiseWriteFailure();

/// "EWriteError": the new content could not be written completely, and the old content could not
/// be written back either: the file at `path` may now hold a mix of both.
[[noreturn]] void RaiseRestoreFailure(const Text& path);

/// "EReadError": the read delivered less than the file's size.
[[noreturn]] void RaiseReadFailure();

/// "EReadError": the file at `path` is too large to be held in memory at once (2 GiB or more).
[[noreturn]] void RaiseTooLargeFailure(const Text& path);

/// "EEncodingError": the bytes after the byte-order mark decode to nothing.
[[noreturn]] void RaiseDecodeFailure();

/// "EEncodingError": the system's ANSI code page is not a valid code page.
[[noreturn]] void RaiseCodePageFailure();

/// What a save could not do, for the one failure that it raises at its top, with the system's
/// text for the reason; or that it is to take another way, or nothing at all.
struct SaveFailure {
  enum Kind {
    kNone,        ///< done
    kTryInPlace,  ///< nothing changed; the file is to be written in place instead
    kCreate,      ///< the create failure
    kWrite,       ///< the write failure; the file is as it was
    kRestore,     ///< the write failure, and the old content could not be written back
  };
  Kind kind = kNone;
  Text reason;  ///< the system's text, for the create failure
};

/// Raises the failure that `failure` stands for, for the file at `path`; returns where there is
/// none.
void RaiseSaveFailure(const Text& path, const SaveFailure& failure);

/// The system's error text without its trailing blanks, control characters and full stops.
TextView TrimSystemText(TextView text);
