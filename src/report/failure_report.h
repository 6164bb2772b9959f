// The failure report: what the user sees of a failure that ends the run.
#pragma once

#include <cstdint>

#include "files/text.h"
#include "report/service.h"

/// In place from its start to its clean-up; while it is, failures of the run are shown in the
/// report box, otherwise in the fallback box.
class FailureReport : public Service {
 public:
  void Start() override { in_place_ = true; }
  void Stop() override { in_place_ = false; }
  bool in_place() const { return in_place_; }

 private:
  bool in_place_ = false;
};

/// The report text for a failure of `kind` with `message`, raised at the code address
/// `location`, named by the module that holds it.
Text ReportTextFor(TextView kind, TextView message, uintptr_t location);
