// The one place where every failure of a process ends.
#pragma once

#include <functional>

/// Runs `run` inside the outermost handler and gives the process's exit status: 0 after a
/// normal end, 1 after a failure was reported.
int RunInsideOutermostHandler(const std::function<void()>& run);
