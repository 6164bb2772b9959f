#include "report/outermost_handler.h"

#include "report/lifecycle.h"
#include "report/memory_failure.h"
#include "report/message_box.h"
#include "report/report_text.h"

namespace {

/// Shows the platform's boxes.
class BoxPresenter : public Presenter {
 public:
  void ShowReport(const Text& text) override { ShowReportBox(text, kReportCaption); }
  void ShowFallback(const std::string& text) override { ShowFallbackBox(text, kFallbackCaption); }
};

}  // namespace

int RunInsideOutermostHandler(const std::function<void()>& run) {
  // The services live until the process ends.
  static FailureReport report;
  static MemoryFailure memory;
  static Service* const services[] = {&report, &memory};
  BoxPresenter presenter;
  return RunLifecycle(services, report, run, presenter);
}
