// The one place where every failure of a process ends.
#pragma once

#include <functional>

/// Runs `run` between the start-up and the clean-up of the system's services (the failure
/// report and the memory failure) and gives the process's exit status: 0 after a normal end,
/// 1 after a failure was shown in the report box, 217 after a failure during the start-up or the
/// clean-up was shown in the fallback box. The boxes are shown here; ending the process with the
/// status is left to the caller.
int RunInsideOutermostHandler(const std::function<void()>& run);
