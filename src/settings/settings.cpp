#include "settings/settings.h"

#include "settings/ini_value.h"

namespace {

/// The value of a hexadecimal digit, or -1 for any other code unit.
int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool IsDecimalDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

/// Passes over a hexadecimal prefix at the start of `text`; false when there is none.
bool SkipHexPrefix(TextView* text) {
  if (text->starts_with(u'$') || text->starts_with(u'x') || text->starts_with(u'X')) {
    text->remove_prefix(1);
    return true;
  }
  if (text->starts_with(u"0x") || text->starts_with(u"0X")) {
    text->remove_prefix(2);
    return true;
  }
  return false;
}

/// Hexadecimal digits, at most eight significant ones, as 32 bits read as two's complement.
std::optional<int32_t> ConvertHex(TextView digits, bool negative) {
  uint32_t value = 0;
  size_t taken = 0;
  // A further digit is taken only while it cannot push the value beyond 32 bits.
  while (taken < digits.size() && value <= 0x0FFFFFFF && HexDigitValue(digits[taken]) >= 0) {
    value = value * 16 + HexDigitValue(digits[taken]);
    ++taken;
  }
  if (taken == 0 || taken != digits.size()) return std::nullopt;
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

/// Decimal digits within the range of a signed 32-bit integer; nothing wraps around.
std::optional<int32_t> ConvertDecimal(TextView digits, bool negative) {
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t value = 0;
  for (char16_t c : digits) {
    if (!IsDecimalDigit(c)) return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > limit) return std::nullopt;
  }
  if (digits.empty()) return std::nullopt;
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

Text SettingsReader::ReadText(TextView section, TextView key) const {
  return ReadIniValue(section, key, path_);
}

int32_t SettingsReader::ReadInteger(TextView section, TextView key, int32_t default_value) const {
  return ConvertInteger(ReadText(section, key)).value_or(default_value);
}

std::optional<int32_t> ConvertInteger(TextView text) {
  while (text.starts_with(u' ')) text.remove_prefix(1);
  bool negative = text.starts_with(u'-');
  if (negative || text.starts_with(u'+')) text.remove_prefix(1);
  if (SkipHexPrefix(&text)) return ConvertHex(text, negative);
  return ConvertDecimal(text, negative);
}
