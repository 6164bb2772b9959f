#include "report/report_text.h"

namespace {

// Where the fallback template's blanks and zeros lie.
constexpr size_t kStatusEnd = 17;     // the status's last digit is the 17th character
constexpr size_t kStatusStart = 15;   // "Runtime error " stays whole
constexpr size_t kAddressStart = 21;  // the address fills the last 16 characters

TextView EndMark(TextView message) {
  return message.empty() || message.back() == u'.' ? TextView() : TextView(u".");
}

/// The report template with its %p filled, so that only %s placeholders remain.
Text TemplateWithLocation(uint64_t relative_location) {
  std::string digits = HexDigits(relative_location, 16);
  Text pattern(kReportTemplate);
  pattern.replace(pattern.find(u"%p"), 2, Text(digits.begin(), digits.end()));
  return pattern;
}

}  // namespace

TextView ModuleName(TextView module_path) {
  size_t separator = module_path.find_last_of(u"\\/");
  return separator == TextView::npos ? module_path : module_path.substr(separator + 1);
}

Text ComposeReportText(TextView kind, TextView module_path, uint64_t relative_location,
                       TextView message) {
  Text text = FillTemplate(TemplateWithLocation(relative_location),
                           {kind, ModuleName(module_path), message, EndMark(message)});
  if (text.size() > kMaxReportLength) text.resize(kMaxReportLength);
  return text;
}

std::string FallbackText(int status, uint64_t address) {
  std::string text = kFallbackTemplate;
  unsigned value = static_cast<unsigned>(status);
  size_t at = kStatusEnd;
  do {
    text[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && at > kStatusStart - 1);
  text.replace(kAddressStart, 16, HexDigits(address, 16));
  return text;
}
