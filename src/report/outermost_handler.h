// The one place where every failure of the process ends.
#pragma once

#include <functional>

#include "report/message_box.h"

/// The exit statuses of the process.
inline constexpr int kNormalEndStatus = 0;
inline constexpr int kFailureReportStatus = 1;
inline constexpr int kFallbackReportStatus = 217;

/// Runs `run` and gives the process's exit status; ending the process with it is left to the
/// caller. The memory failure's handler is installed before the run and the one before it put
/// back after it.
/// - 0 after a normal end.
/// - 1 after a failure of the run, shown in the report box before the old handler is back; a
///   request for memory that the platform refused is the memory failure.
/// - 217 after anything else that leaves the run, shown in the fallback box, also before.
int RunInsideOutermostHandler(const std::function<void()>& run, MessageBoxes& boxes);
