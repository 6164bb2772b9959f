// Whether a path names something that a run should process.
#pragma once

#include "base/text.h"

/// Passes for a path that names an existing file that is no folder, following a symbolic link
/// to a target that can be opened for reading; fails for an empty path, a missing one and a
/// folder. Reads nothing of the file: a file that may not be read passes, and its load fails.
bool PassesExistenceTest(const Text& path);
