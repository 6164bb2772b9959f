// The absolute form of a path, as a failure names the file; one implementation per platform.
#pragma once

#include "base/text.h"

/// The absolute form of `path`, relative to the working folder, with "." and ".." folded, as the
/// report names the file: ".." folded only where the system's walk of the path agrees (on POSIX
/// systems, where no symbolic link stands before it). Empty when it cannot be formed.
Text AbsolutePath(const Text& path);
