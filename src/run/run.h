// One run of the post-processor on one NC program file.
#pragma once

#include "base/text.h"

/// Processes the NC program file at `path`: the existence test, the load, the settings lookup,
/// the pruning pass and the save, over the input or to the test output file. Returns after the
/// save or, when the path is empty or fails the existence test, at once without touching any
/// file. Any failure is raised to the caller.
void RunOnce(const Text& path);
