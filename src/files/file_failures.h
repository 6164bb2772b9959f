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
/// be written back either: the file at `path` may now hold a mix of both. `backup`, unless
/// empty, is the file that holds the old content whole, and the message names it.
[[noreturn]] void RaiseRestoreFailure(const Text& path, const Text& backup);

/// "EWriteError": the new content is whole in the file at `path`, but not surely on disk yet.
[[noreturn]] void RaiseNotYetLastingFailure(const Text& path);

/// "EReadError": the read delivered less than the file's size.
[[noreturn]] void RaiseReadFailure();

/// "EReadError": the file at `path` is too large to be held in memory at once (2 GiB or more).
[[noreturn]] void RaiseTooLargeFailure(const Text& path);

/// The system's error text without its trailing blanks, control characters and full stops.
TextView TrimSystemText(TextView text);
