#include "report/report_text.h"

#include <string_view>

#include "base/path.h"

namespace {

constexpr std::string_view kFallback(kFallbackTemplate, sizeof kFallbackTemplate - 1);

/// Where `part` first begins in the fallback template. Written out rather than with
/// std::string_view::find, which GCC cannot evaluate at compile time under
/// UndefinedBehaviorSanitizer.
constexpr size_t FallbackIndexOf(std::string_view part) {
  for (size_t at = 0; at + part.size() <= kFallback.size(); ++at) {
    size_t k = 0;
    while (k < part.size() && kFallback[at + k] == part[k]) ++k;
    if (k == part.size()) return at;
  }
  return kFallback.size();
}

/// Where the first `part` in the fallback template ends.
constexpr size_t FallbackEndOf(std::string_view part) {
  return FallbackIndexOf(part) + part.size();
}

// The fallback template's fields, found in the template itself: the status goes right-aligned
// into the blanks between "Runtime error " and " at ", the address into the zeros at the end.
constexpr size_t kStatusStart = FallbackEndOf("Runtime error ");
constexpr size_t kStatusEnd = FallbackIndexOf(" at ");
constexpr size_t kAddressStart = FallbackIndexOf("0");
constexpr size_t kAddressDigits = kFallback.size() - kAddressStart;
static_assert(kStatusStart < kStatusEnd, "the status has a field of blanks");
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
