// The life of the process: the start-up of the services, the run, and their clean-up.
#pragma once

#include <functional>
#include <span>

#include "report/failure_report.h"
#include "report/presenter.h"
#include "report/service.h"

/// The exit statuses of the process.
inline constexpr int kNormalEndStatus = 0;
inline constexpr int kFailureReportStatus = 1;
inline constexpr int kFallbackReportStatus = 217;

/// Starts `services` in order, calls `run`, and cleans the services up in reverse order.
/// Every failure that leaves any of these goes to the failure report while `report` (one of
/// `services`) is in place, otherwise to the fallback report; other exceptions go to the
/// fallback report too. Boxes are shown through `presenter`; a failure report is shown before
/// the clean-up, a start-up failure only after the start-up has been undone. Returns the exit
/// status and never ends the process itself.
int RunLifecycle(std::span<Service* const> services, const FailureReport& report,
                 const std::function<void()>& run, Presenter& presenter);
