// The file system as loading and saving an NC program file needs it; one implementation per
// platform.
#pragma once

#include <string>

#include "files/text.h"

/// The whole content of the regular file at `path`, read with one request into one buffer.
/// While it reads, others may read the file but not write it, where the platform can say so.
/// Raises the open failure when the file cannot be opened (or is no regular file), and
/// "EReadError" when it is 2 GiB or larger or the read delivers less than its size.
std::string ReadWholeFile(const Text& path);

/// Makes `content` the whole content of the file at `path`, all or nothing: the bytes go to a
/// new file beside it that replaces it only once they are completely written. Raises the create
/// failure when the file cannot be created or replaced and the write failure when the bytes
/// cannot be written; on any failure the file at `path` is exactly as it was.
void ReplaceWholeFile(const Text& path, std::string_view content);

/// The absolute form of `path` as the platform forms it, without looking at the file system:
/// relative to the working folder, "." and ".." folded. Empty when it cannot be formed.
Text AbsolutePath(const Text& path);
