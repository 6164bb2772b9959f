// Forming the settings file path and the test output path from another path.
#pragma once

#include "base/text.h"

/// The characters that end the search for an extension on Windows: the dot and the separators
/// of folders and drives.
inline constexpr TextView kWindowsExtensionStops = u".\\:";

/// The same on POSIX systems: the dot and the folder separator.
inline constexpr TextView kPosixExtensionStops = u"./";

#ifdef _WIN32
inline constexpr TextView kExtensionStops = kWindowsExtensionStops;
#else
inline constexpr TextView kExtensionStops = kPosixExtensionStops;
#endif

/// `path` with its extension (from the last dot of its last component) replaced by `extension`,
/// which includes its dot; appended when there is none. `stops` holds the dot and the characters
/// that end a path component.
Text ReplaceExtension(TextView path, TextView extension, TextView stops = kExtensionStops);
