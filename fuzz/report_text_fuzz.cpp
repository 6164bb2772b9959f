// The report text: whatever the kind, module path and message, it is the filled template with
// nothing interpreted, cut after 1024 code units; the fallback text keeps its 37 characters.
#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "report/report_text.h"

namespace {

Text Hex16(uint64_t value) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016" PRIX64, value);
  return Text(digits, digits + 16);
}

/// The whole report text, uncut, written out fragment by fragment.
Text ExpectedReport(TextView kind, TextView module_path, uint64_t location, TextView message) {
  size_t separator = module_path.find_last_of(u"\\/");
  TextView module = separator == TextView::npos ? module_path : module_path.substr(separator + 1);
  bool end_mark = !message.empty() && message.back() != u'.';
  Text text = u"Exception " + Text(kind) + u" in Modul " + Text(module) + u" bei ";
  text += Hex16(location) + u".\r\n" + Text(message) + (end_mark ? u".\r\n" : u"\r\n");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  uint64_t location;
  std::memcpy(&location, data + 1, sizeof location);
  int status = data[0];
  // The rest holds the kind, the module path and the message, separated by U+FF8F (byte FF).
  Text rest = TextFromFuzzBytes(FuzzBytes(data + 9, size - 9));
  TextView fragments[3];
  TextView view(rest);
  for (int i = 0; i < 2; ++i) {
    size_t cut = std::min(view.find(u'\uFF8F'), view.size());
    fragments[i] = view.substr(0, cut);
    view.remove_prefix(std::min(cut + 1, view.size()));
  }
  fragments[2] = view;

  Text report = ComposeReportText(fragments[0], fragments[1], location, fragments[2]);
  Text expected = ExpectedReport(fragments[0], fragments[1], location, fragments[2]);
  FUZZ_CHECK(report.size() <= kMaxReportLength, "the report text is longer than 1024");
  FUZZ_CHECK(report == expected.substr(0, kMaxReportLength), "not the filled template, cut");

  char fallback[64];
  std::snprintf(fallback, sizeof fallback, "Runtime error %3d at %016" PRIX64, status, location);
  FUZZ_CHECK(FallbackText(status, location) == fallback, "the fallback text is not filled in");
  return 0;
}
