#include "report/lifecycle.h"

#include <optional>

#include "report/failure.h"
#include "report/memory_failure.h"
#include "report/report_text.h"

namespace {

/// The raise location of the exception in flight; 0 where it has none. Call only while an
/// exception is being handled.
uintptr_t LocationInFlight() {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure.location;
  } catch (const OutOfMemory& failure) {
    return failure.location();
  } catch (...) {
    return 0;
  }
}

class Lifecycle {
 public:
  Lifecycle(std::span<Service* const> services, const FailureReport& report, Presenter& presenter)
      : services_(services), report_(report), presenter_(presenter) {}

  int Run(const std::function<void()>& run) {
    if (std::optional<uintptr_t> failure = StartAll()) return ShowFallbackReport(*failure);
    try {
      run();
    } catch (...) {
      return HandleRunFailure();
    }
    CleanUp();
    if (cleanup_failure_) return ShowFallbackReport(*cleanup_failure_);
    return kNormalEndStatus;
  }

 private:
  /// Starts every service in order. On a failure, undoes what had begun and returns its
  /// location.
  std::optional<uintptr_t> StartAll() {
    try {
      for (Service* service : services_) {
        ++begun_;
        service->Start();
      }
    } catch (...) {
      uintptr_t location = LocationInFlight();
      CleanUp();
      return location;
    }
    return std::nullopt;
  }

  /// Cleans up every service whose start had begun, in reverse order. A failure does not stop
  /// the others; the first one is kept.
  void CleanUp() {
    while (begun_ > 0) {
      try {
        services_[--begun_]->Stop();
      } catch (...) {
        if (!cleanup_failure_) cleanup_failure_ = LocationInFlight();
      }
    }
  }

  /// Takes over the exception in flight from the run.
  int HandleRunFailure() {
    if (!report_.in_place()) return ShowFallbackReport(LocationInFlight());
    try {
      throw;
    } catch (const Failure& failure) {
      return ShowFailureReport(TextFromNative(failure.kind), failure.message, failure.location);
    } catch (const OutOfMemory& failure) {
      return ShowFailureReport(kOutOfMemoryKind, kOutOfMemoryMessage, failure.location());
    } catch (const std::bad_alloc&) {
      return ShowFailureReport(kOutOfMemoryKind, kOutOfMemoryMessage, 0);
    } catch (...) {
      return ShowFallbackReport(0);
    }
  }

  // A failure raised by the clean-up after the box has been shown changes nothing: the box is
  // the report, and the status stays.
  int ShowFailureReport(TextView kind, TextView message, uintptr_t location) {
    try {
      presenter_.ShowReport(ReportTextFor(kind, message, location));
    } catch (...) {
      // Not even the report could be composed: the process still ends with the failure status.
    }
    CleanUp();
    return kFailureReportStatus;
  }

  int ShowFallbackReport(uintptr_t location) {
    try {
      presenter_.ShowFallback(FallbackText(kFallbackReportStatus, location));
    } catch (...) {
    }
    CleanUp();
    return kFallbackReportStatus;
  }

  std::span<Service* const> services_;
  const FailureReport& report_;
  Presenter& presenter_;
  size_t begun_ = 0;  // services whose start had begun and that are not yet cleaned up
  std::optional<uintptr_t> cleanup_failure_;
};

}  // namespace

int RunLifecycle(std::span<Service* const> services, const FailureReport& report,
                 const std::function<void()>& run, Presenter& presenter) {
  return Lifecycle(services, report, presenter).Run(run);
}
