#include "encoding/cp1252.h"

#include <algorithm>
#include <array>

#include "base/simd.h"

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
constexpr size_t kBlock = simd::kBlockBytes;

// The text grows by chunks of this many code units: making room zero-fills it, which costs
// little while the chunk is still in the cache when it is overwritten.
constexpr size_t kChunk = 1 << 14;

/// Widens the block of bytes at `bytes` into `dest` if all of them are ASCII.
bool WidenAsciiBlock(const unsigned char* bytes, char16_t* dest) {
  simd::Block block = simd::Load(bytes);
  if (simd::ByteTopBits(block) != 0) return false;
  simd::Store(dest, simd::WidenLow(block));
  simd::Store(dest + simd::kBlockLanes, simd::WidenHigh(block));
  return true;
}

/// Narrows the block of code units at `text` into `dest` if all of them are ASCII.
bool NarrowAsciiBlock(const char16_t* text, char* dest) {
  simd::Block low = simd::Load(text);
  simd::Block high = simd::Load(text + simd::kBlockLanes);
  simd::Block above = simd::And(simd::Or(low, high), simd::EveryLane(0xFF80));
  if (simd::ByteTopBits(simd::EqualLanes(above, simd::EveryLane(0))) != 0xFFFF) return false;
  simd::Store(dest, simd::Narrow(low, high));
  return true;
}

void DecodeChunk(const unsigned char* bytes, size_t size, char16_t* dest) {
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
    size_t chunk = std::min(kChunk, bytes.size() - done);
    out->resize(start + done + chunk);
    DecodeChunk(source + done, chunk, out->data() + start + done);
    done += chunk;
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
