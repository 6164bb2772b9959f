#include "report/failure_report.h"

#include "report/code_module.h"
#include "report/report_text.h"

Text ReportTextFor(TextView kind, TextView message, uintptr_t location) {
  CodeModule module = FindCodeModule(location);
  return ComposeReportText(kind, module.path, module.relative, message);
}
