// How the code units of a text lie in the bytes that hold it.
#pragma once

#include <cstddef>

/// How the code units of a text lie in its bytes.
enum class UnitForm { kByte, kUtf16Le, kUtf16Be };

/// The number of bytes of one code unit.
constexpr size_t UnitWidth(UnitForm form) { return form == UnitForm::kByte ? 1 : 2; }

/// The code unit whose bytes start at `p`.
template <UnitForm F>
char16_t UnitAt(const unsigned char* p) {
  if constexpr (F == UnitForm::kByte) return p[0];
  if constexpr (F == UnitForm::kUtf16Le) return static_cast<char16_t>(p[0] | (p[1] << 8));
  return static_cast<char16_t>((p[0] << 8) | p[1]);
}
