#include "report/outermost_handler.h"

#include <optional>

#include "base/failure.h"
#include "report/code_module.h"
#include "report/report_text.h"

namespace {

/// Called by the allocation function that could not get memory; the location it records is the
/// code address in that function at which the refusal was detected.
[[noreturn]] __attribute__((noinline)) void OnRefusedMemory() {
  throw OutOfMemory(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

/// Runs `step`, if there is one. Gives nothing when it ends normally, otherwise the raise
/// location of what left it (0 for what has none).
std::optional<uintptr_t> FailureLocationOf(const std::function<void()>& step) {
  try {
    if (step) step();
  } catch (const Failure& failure) {
    return failure.location;
  } catch (const OutOfMemory& failure) {
    return failure.location();
  } catch (...) {
    return 0;
  }
  return std::nullopt;
}

/// The clean-up, in reverse order of the start-up: `clean_up`, then the memory failure's handler
/// goes. Gives the raise location of a failure of it, as FailureLocationOf does.
std::optional<uintptr_t> CleanUp(const std::function<void()>& clean_up, std::new_handler previous) {
  std::optional<uintptr_t> failure = FailureLocationOf(clean_up);
  std::set_new_handler(previous);
  return failure;
}

int ShowReport(Presenter& presenter, std::string_view kind, TextView message, uintptr_t location) {
  try {
    CodeModule module = FindCodeModule(location);
    presenter.ShowReport(
        ComposeReportText(TextFromNative(kind), module.path, module.relative, message));
  } catch (...) {
    // Not even the report could be composed: the process still ends with the failure status.
  }
  return kFailureReportStatus;
}

int ShowFallback(Presenter& presenter, uintptr_t location) {
  try {
    presenter.ShowFallback(FallbackText(kFallbackReportStatus, location));
  } catch (...) {
  }
  return kFallbackReportStatus;
}

}  // namespace

int RunInsideOutermostHandler(const EnclosedSteps& steps, Presenter& presenter) {
  std::new_handler previous = std::set_new_handler(OnRefusedMemory);
  if (std::optional<uintptr_t> failure = FailureLocationOf(steps.start_up)) {
    CleanUp(steps.clean_up, previous);  // undoes the start-up, the failing step included
    return ShowFallback(presenter, *failure);
  }
  int status = kNormalEndStatus;
  try {
    steps.run();
  } catch (const Failure& failure) {
    status = ShowReport(presenter, failure.kind, failure.message, failure.location);
  } catch (const OutOfMemory& failure) {
    status = ShowReport(presenter, kOutOfMemoryKind, kOutOfMemoryMessage, failure.location());
  } catch (const std::bad_alloc&) {
    status = ShowReport(presenter, kOutOfMemoryKind, kOutOfMemoryMessage, 0);
  } catch (...) {
    status = ShowFallback(presenter, 0);
  }
  std::optional<uintptr_t> cleanup_failure = CleanUp(steps.clean_up, previous);
  // After a box, a failure of the clean-up changes nothing.
  if (status != kNormalEndStatus || !cleanup_failure) return status;
  return ShowFallback(presenter, *cleanup_failure);
}
