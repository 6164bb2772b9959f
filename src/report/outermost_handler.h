// The one place where every failure of the process ends.
#pragma once

#include <functional>

#include "report/message_box.h"

/// The exit statuses of the process.
inline constexpr int kNormalEndStatus = 0;
inline constexpr int kFailureReportStatus = 1;
inline constexpr int kFallbackReportStatus = 217;

/// What the outermost handler encloses. The system's own start-up (the failure report comes into
/// place, the memory failure's handler is installed) comes before `start_up`, and its own
/// clean-up after `clean_up`; the program has only a run, tests add steps that fail.
struct EnclosedSteps {
  std::function<void()> start_up = {};  ///< may be empty
  std::function<void()> run;
  std::function<void()> clean_up = {};  ///< may be empty; also undoes a start-up that failed
};

/// Runs the start-up, the run and the clean-up of `steps` and gives the process's exit status;
/// ending the process with it is left to the caller.
/// - 0 after a normal end.
/// - 1 after a failure of the run, shown in the report box before the clean-up; a request for
///   memory that the platform refused is the memory failure. A failure of the clean-up after the
///   report box shows nothing more and changes nothing.
/// - 217 after a failure of the start-up, shown in the fallback box once the start-up is undone;
///   after a failure of the clean-up after a normal end, shown once everything is cleaned up;
///   and after anything else that leaves the run, shown before the clean-up.
int RunInsideOutermostHandler(const EnclosedSteps& steps, Presenter& presenter);
