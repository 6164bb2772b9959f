// The failures of turning a file's bytes into text, with their fixed texts.
#pragma once

/// "EEncodingError": the bytes after the byte-order mark decode to nothing.
[[noreturn]] void RaiseDecodeFailure();

/// "EEncodingError": the system's ANSI code page is not a valid code page.
[[noreturn]] void RaiseCodePageFailure();
