// What the fuzz targets share: a check that ends the run as a crash, so that libFuzzer keeps the
// input that broke it, and the mapping of fuzz bytes to text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/text.h"

/// Aborts with `what` when `condition` does not hold.
#define FUZZ_CHECK(condition, what)                                  \
  do {                                                               \
    if (!(condition)) {                                              \
      std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, what); \
      std::abort();                                                  \
    }                                                                \
  } while (0)

/// The fuzz bytes as code units: ASCII stays itself; a byte from 0x80 up stands for one of the
/// code units U+FF10..U+FF8F (fullwidth digits and letters among them), so that non-ASCII look-
/// alikes of digits, signs and quotes are tried too.
inline Text TextFromFuzzBytes(std::string_view bytes) {
  Text text;
  text.reserve(bytes.size());
  for (unsigned char byte : bytes) {
    text.push_back(byte < 0x80 ? char16_t{byte} : static_cast<char16_t>(0xFF10 + (byte - 0x80)));
  }
  return text;
}

inline std::string_view FuzzBytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}
