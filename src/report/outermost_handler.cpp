#include "report/outermost_handler.h"

#include <new>

#include "base/failure.h"
#include "report/code_module.h"
#include "report/report_text.h"

namespace {

/// Called by the allocation function that could not get memory; the location it records is the
/// code address in that function at which the refusal was detected.
[[noreturn]] __attribute__((noinline)) void OnRefusedMemory() {
  throw OutOfMemory(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

int ShowReport(MessageBoxes& boxes, std::string_view kind, TextView message, uintptr_t location) {
  try {
    CodeModule module = FindCodeModule(location);
    boxes.ShowReport(
        ComposeReportText(TextFromNative(kind), module.path, module.relative, message));
  } catch (...) {
    // Not even the report could be composed: the process still ends with the failure status.
  }
  return kFailureReportStatus;
}

/// The fallback box for what left the run without being a failure; it has no raise location.
int ShowFallback(MessageBoxes& boxes) {
  try {
    boxes.ShowFallback(FallbackText(kFallbackReportStatus, 0));
  } catch (...) {
  }
  return kFallbackReportStatus;
}

}  // namespace

int RunInsideOutermostHandler(const std::function<void()>& run, MessageBoxes& boxes) {
  std::new_handler previous = std::set_new_handler(OnRefusedMemory);
  int status = kNormalEndStatus;
  try {
    run();
  } catch (const Failure& failure) {
    status = ShowReport(boxes, failure.kind, failure.message, failure.location);
  } catch (const OutOfMemory& failure) {
    status = ShowReport(boxes, kOutOfMemoryKind, kOutOfMemoryMessage, failure.location());
  } catch (const std::bad_alloc&) {
    status = ShowReport(boxes, kOutOfMemoryKind, kOutOfMemoryMessage, 0);
  } catch (...) {
    status = ShowFallback(boxes);
  }
  std::set_new_handler(previous);
  return status;
}
