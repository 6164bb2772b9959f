#include "base/text.h"

#include "base/utf8.h"

Text TextFromNative(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* end = p + bytes.size();
  while (p < end) {
    char32_t cp;
    size_t length = Utf8Sequence(p, end, &cp);
    if (length == 0) cp = 0xDC00 + *p, length = 1;
    AppendUtf16(cp, &out);
    p += length;
  }
  return out;
}

std::string NativeFromText(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00), &out);
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      out.push_back(static_cast<char>(unit - 0xDC00));
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

Text FillTemplate(TextView pattern, std::initializer_list<TextView> args) {
  Text out;
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's' &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::string HexDigits(uint64_t value, size_t digits) {
  std::string text(digits, '0');
  for (size_t i = digits; i-- > 0; value >>= 4) text[i] = "0123456789ABCDEF"[value & 0xF];
  return text;
}
