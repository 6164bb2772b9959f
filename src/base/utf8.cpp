#include "base/utf8.h"

#include <cstddef>
#include <cstdint>

#include "base/simd.h"

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

/// The number of code units that the bytes decode to, or -1 when they are ill-formed.
ptrdiff_t DecodedLength(const unsigned char* p, const unsigned char* end) {
  ptrdiff_t units = 0;
  while (p < end) {
    if (*p < 0x80) {
      ++p, ++units;
      continue;
    }
    char32_t cp;
    size_t length = Utf8Sequence(p, end, &cp);
    if (length == 0) return -1;
    p += length;
    units += cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

// ASCII is looked for this many bytes at a time: two blocks.
constexpr size_t kAsciiBlock = 2 * simd::kBlockBytes;

/// Whether the bytes from `p` on, kAsciiBlock of them, are all ASCII.
bool IsAsciiBlock(const unsigned char* p) {
  simd::Block any = simd::Or(simd::Load(p), simd::Load(p + simd::kBlockBytes));
  return simd::ByteTopBits(any) == 0;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view bytes, bool (*judge)(std::string_view segment)) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  size_t i = 0;
  while (i < size) {
    while (i + kAsciiBlock <= size && IsAsciiBlock(p + i)) i += kAsciiBlock;
    while (i < size && p[i] < 0x80) ++i;
    if (i == size) break;
    size_t segment = i;
    while (i < size && p[i] >= 0x80) ++i;
    if (!judge(bytes.substr(segment, i - segment))) return false;
  }
  return true;
}

bool IsWellFormedUtf8Segment(std::string_view segment) {
  auto* p = reinterpret_cast<const unsigned char*>(segment.data());
  return DecodedLength(p, p + segment.size()) >= 0;
}

size_t Utf8Sequence(const unsigned char* p, const unsigned char* end, char32_t* code_point) {
  unsigned char lead = p[0];
  size_t length;
  char32_t min;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < length) return 0;
  char32_t cp = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code_point = cp;
  return length;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
    return;
  }
  if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
  }
  out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}

void AppendUtf16(char32_t cp, Text* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool DecodeUtf8Strict(std::string_view bytes, Text* out) {
  auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto* end = p + bytes.size();
  ptrdiff_t units = DecodedLength(p, end);
  if (units < 0) return false;
  size_t start = out->size();
  out->resize(start + units);
  char16_t* dest = out->data() + start;
  while (p < end) {
    if (*p < 0x80) {
      *dest++ = *p++;
      continue;
    }
    char32_t cp;
    p += Utf8Sequence(p, end, &cp);
    if (cp < 0x10000) {
      *dest++ = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      *dest++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *dest++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  return true;
}

void EncodeUtf8Replacing(TextView text, std::string* out) {
  out->reserve(out->size() + text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (IsHighSurrogate(cp) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, out);
  }
}
