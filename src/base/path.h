// Path arithmetic: the folder and the name of a path, the settings and test output paths formed
// from another path, the "." and ".." of an absolute path folded. Pure text; nothing here looks
// at the file system.
#pragma once

#include <functional>
#include <string_view>

#include "base/text.h"

/// The characters that separate folders: Windows takes the slash as well as the backslash.
#ifdef _WIN32
inline constexpr TextView kFolderSeparators = u"\\/";
#else
inline constexpr TextView kFolderSeparators = u"/";
#endif

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

/// The folder part of `path`, up to and including its last separator; empty for a bare name.
TextView FolderPart(TextView path, TextView separators = kFolderSeparators);

/// The name part of `path`, after its last separator; the whole path for a bare name.
TextView NamePart(TextView path, TextView separators = kFolderSeparators);

/// The folder part of the POSIX path `path` in the system's own bytes, up to and including its
/// last slash; empty for a bare name.
std::string_view FolderPart(std::string_view path);

/// The absolute Windows path `absolute` in the form that the system takes at any length: with
/// the prefix "\\?\" ("\\?\UNC\" for a network share). Anything else (a relative path, a
/// device path, one that has the prefix already) comes back as it is.
Text WithLongPrefix(TextView absolute);

/// `path` without the prefix "\\?\" where what follows is an ordinary drive or network path,
/// as the user knows it; anything else comes back as it is.
Text WithoutLongPrefix(TextView path);

/// Tells whether the absolute path it is given (without a trailing slash) names a symbolic link.
using LinkTest = std::function<bool(TextView)>;

/// The absolute POSIX path `absolute` with its empty and "." components folded away, and each
/// ".." with the name before it, as the system walks it: where a symbolic link stands before a
/// "..", the system goes back from where the link leads, so that ".." and all after it stay as
/// they are (`is_link` tells, for each path up to a name; without it, no name is a link). "/" for
/// the root. A trailing slash stays.
Text FoldedPath(TextView absolute, const LinkTest& is_link = nullptr);
