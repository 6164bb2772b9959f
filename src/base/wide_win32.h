// Text as the wide strings of the Windows API, where wchar_t holds one UTF-16 code unit.
#pragma once

#include "base/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 code unit on Windows");

/// `text` as a null-terminated wide string, valid as long as `text` is unchanged.
inline const wchar_t* Wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

/// The first `length` wide characters at `wide` as text.
inline Text TextFromWide(const wchar_t* wide, size_t length) {
  return Text(reinterpret_cast<const char16_t*>(wide), length);
}
