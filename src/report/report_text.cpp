#include "report/report_text.h"

namespace {

constexpr char16_t kReportTemplate[] = u"Exception %s in Modul %s bei %p.\r\n%s%s\r\n";
constexpr char kFallbackTemplate[] = "Runtime error     at 0000000000000000";
constexpr size_t kStatusEnd = 17;    // the status's last digit is the 17th character
constexpr size_t kStatusStart = 15;  // "Runtime error " stays whole
constexpr size_t kAddressEnd = 37;   // the address's last digit is the 37th character

constexpr char kHexDigits[] = "0123456789ABCDEF";

Text SixteenHexDigits(uint64_t value) {
  Text digits(16, u'0');
  for (size_t i = digits.size(); i-- > 0; value >>= 4) digits[i] = kHexDigits[value & 0xF];
  return digits;
}

TextView EndMark(TextView message) {
  return message.empty() || message.back() == u'.' ? TextView() : TextView(u".");
}

/// The report template with its %p filled, so that only %s placeholders remain.
Text TemplateWithLocation(uint64_t relative_location) {
  Text pattern(kReportTemplate);
  pattern.replace(pattern.find(u"%p"), 2, SixteenHexDigits(relative_location));
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
  at = kAddressEnd;
  do {
    text[--at] = kHexDigits[address & 0xF];
    address >>= 4;
  } while (address != 0);
  return text;
}
