// Paths as the Windows calls take them at any length.
#pragma once

#include "base/text.h"

/// The absolute form of `path` with the prefix "\\?\" ("\\?\UNC\" for a share), which the system
/// takes at any length, also where long paths are not enabled for the whole system. Empty, with
/// the reason left for GetLastError, when no absolute form can be made.
Text SystemPath(const Text& path);
