#include "files/cp1252.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// NC programs are almost all ASCII, which both directions copy a block at a time; a block that
// holds anything else goes one character at a time.
constexpr size_t kBlock = 16;

// The text grows by pieces of this many code units: making room zero-fills it, which costs
// little while the piece is still in the cache when it is overwritten.
constexpr size_t kPiece = 1 << 14;

/// Widens the block of bytes at `bytes` into `dest` if all of them are ASCII.
bool WidenAsciiBlock(const unsigned char* bytes, char16_t* dest) {
#if defined(__SSE2__)
  __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  if (_mm_movemask_epi8(block) != 0) return false;
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), _mm_unpacklo_epi8(block, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 8), _mm_unpackhi_epi8(block, zero));
#else
  unsigned char any = 0;
  for (size_t k = 0; k < kBlock; ++k) any |= bytes[k];
  if (any >= 0x80) return false;
  for (size_t k = 0; k < kBlock; ++k) dest[k] = bytes[k];
#endif
  return true;
}

/// Narrows the block of code units at `text` into `dest` if all of them are ASCII.
bool NarrowAsciiBlock(const char16_t* text, char* dest) {
#if defined(__SSE2__)
  __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8));
  __m128i above = _mm_and_si128(_mm_or_si128(low, high), _mm_set1_epi16(-0x80));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, _mm_setzero_si128())) != 0xFFFF) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), _mm_packus_epi16(low, high));
#else
  char16_t any = 0;
  for (size_t k = 0; k < kBlock; ++k) any |= text[k];
  if (any >= 0x80) return false;
  for (size_t k = 0; k < kBlock; ++k) dest[k] = static_cast<char>(text[k]);
#endif
  return true;
}

void DecodePiece(const unsigned char* bytes, size_t size, char16_t* dest) {
  size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    if (WidenAsciiBlock(bytes + i, dest + i)) continue;
    for (size_t k = i; k < i + kBlock; ++k) dest[k] = kDecode[bytes[k]];
  }
  for (; i < size; ++i) dest[i] = kDecode[bytes[i]];
}

/// Encodes the character at `text[i]` to `*dest` and returns the index after it.
size_t EncodeCharacter(TextView text, size_t i, char** dest) {
  char16_t unit = text[i++];
  // A surrogate pair is one character and gets one substitute.
  if (IsHighSurrogate(unit) && i < text.size() && IsLowSurrogate(text[i])) ++i;
  *(*dest)++ = EncodeUnit(unit);
  return i;
}

}  // namespace

void DecodeCp1252(std::string_view bytes, Text* out) {
  size_t start = out->size();
  out->reserve(start + bytes.size());
  auto* source = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t done = 0; done < bytes.size();) {
    size_t piece = std::min(kPiece, bytes.size() - done);
    out->resize(start + done + piece);
    DecodePiece(source + done, piece, out->data() + start + done);
    done += piece;
  }
}

void EncodeCp1252(TextView text, std::string* out) {
  size_t start = out->size();
  out->resize(start + text.size());
  char* dest = out->data() + start;
  size_t i = 0;
  while (i + kBlock <= text.size()) {
    if (NarrowAsciiBlock(text.data() + i, dest)) {
      dest += kBlock;
      i += kBlock;
      continue;
    }
    for (size_t block_end = i + kBlock; i < block_end;) i = EncodeCharacter(text, i, &dest);
  }
  while (i < text.size()) i = EncodeCharacter(text, i, &dest);
  out->resize(dest - out->data());
}
