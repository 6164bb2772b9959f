// The settings integer conversion agrees with a plain reference on every text: leading spaces,
// one sign, an optional hexadecimal prefix, digits to the end of the text.
#include <optional>

#include "fuzz/fuzz_check.h"
#include "settings/settings.h"

namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

/// Hexadecimal: a digit is taken while the value so far fits in 28 bits; the 32 bits are read as
/// two's complement and negated modulo 2^32 after a minus sign.
std::optional<int32_t> ReferenceHex(TextView digits, bool negative) {
  uint64_t value = 0;
  size_t i = 0;
  for (; i < digits.size() && HexValue(digits[i]) >= 0 && value <= 0x0FFFFFFF; ++i) {
    value = value * 16 + HexValue(digits[i]);
  }
  if (i == 0 || i != digits.size()) return std::nullopt;
  if (negative) value = (uint64_t{1} << 32) - value;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

/// Decimal: any number of digits, the signed value within 32 bits, no wrap-around.
std::optional<int32_t> ReferenceDecimal(TextView digits, bool negative) {
  if (digits.empty()) return std::nullopt;
  __int128 value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    if (value <= (__int128{1} << 40)) value = value * 10 + (c - u'0');  // beyond: out of range
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<int32_t> ReferenceConvert(TextView text) {
  size_t i = text.find_first_not_of(u' ');
  if (i == TextView::npos) return std::nullopt;
  text.remove_prefix(i);
  bool negative = text[0] == u'-';
  if (negative || text[0] == u'+') text.remove_prefix(1);
  if (text.starts_with(u"0x") || text.starts_with(u"0X")) {
    return ReferenceHex(text.substr(2), negative);
  }
  if (!text.empty() && (text[0] == u'$' || text[0] == u'x' || text[0] == u'X')) {
    return ReferenceHex(text.substr(1), negative);
  }
  return ReferenceDecimal(text, negative);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text text = TextFromFuzzBytes(FuzzBytes(data, size));
  FUZZ_CHECK(ConvertInteger(text) == ReferenceConvert(text), "differs from the reference");
  return 0;
}
