#include "files/cp1252.h"

#include <array>

namespace {

// 0x80..0x9F; the five values that the code page leaves undefined map to the C1 controls.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> MakeDecodeTable() {
  std::array<char16_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<char16_t>(b);
  for (int i = 0; i < 32; ++i) table[0x80 + i] = kHighControls[i];
  return table;
}

constexpr std::array<char16_t, 256> kDecode = MakeDecodeTable();

char EncodeUnit(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void DecodeCp1252(std::string_view bytes, Text* out) {
  size_t start = out->size();
  out->resize(start + bytes.size());
  char16_t* dest = out->data() + start;
  for (unsigned char b : bytes) *dest++ = kDecode[b];
}

void EncodeCp1252(TextView text, std::string* out) {
  size_t start = out->size();
  out->resize(start + text.size());
  char* dest = out->data() + start;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    if (unit < 0x80) {
      *dest++ = static_cast<char>(unit);
      continue;
    }
    // A surrogate pair is one character and gets one substitute.
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    *dest++ = EncodeUnit(unit);
  }
  out->resize(dest - out->data());
}
