#include "report/report_text.h"

#include <string_view>

#include "base/path.h"

namespace {

// The fallback template's fields, found in the template itself: the status goes right-aligned
// into the blanks between the words before it and " at ", the address into the zeros at the end.
constexpr std::string_view kFallback = kFallbackTemplate;
constexpr size_t kStatusEnd = kFallback.find(" at ");
constexpr size_t kStatusStart = kFallback.find_last_not_of(' ', kStatusEnd) + 2;
constexpr size_t kAddressStart = kFallback.find('0');
constexpr size_t kAddressDigits = kFallback.size() - kAddressStart;
static_assert(kAddressDigits == 16, "the zeros hold the 16 hexadecimal digits of 64 bits");

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

TextView ModuleName(TextView module_path) { return NamePart(module_path, u"\\/"); }

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
  } while (value != 0 && at > kStatusStart);
  text.replace(kAddressStart, kAddressDigits, HexDigits(address, kAddressDigits));
  return text;
}
