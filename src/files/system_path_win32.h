// Paths as the Windows calls take them at any length.
#pragma once

#include "base/text.h"
#include "files/step_win32.h"

/// The absolute form of `path`, as the system makes it (GetFullPathNameW): relative to the
/// working folder, with "." and ".." folded. Failed where none can be made.
Found<Text> FullPathName(const Text& path);

/// The absolute form of `path` with the prefix "\\?\" ("\\?\UNC\" for a share), which the system
/// takes at any length, also where long paths are not enabled for the whole system. Failed,
/// and empty, where no absolute form can be made.
Found<Text> SystemPath(const Text& path);
