// Text as the system holds it: UTF-16 code units.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

using Text = std::u16string;
using TextView = std::u16string_view;

/// Decodes UTF-8 into UTF-16. Bytes that are not well-formed UTF-8 become the lone surrogates
/// U+DC80..U+DCFF, so that any byte string survives a round trip through NativeFromText.
Text TextFromNative(std::string_view bytes);

/// Encodes UTF-16 as UTF-8; the lone surrogates U+DC80..U+DCFF become the bytes they stand for.
std::string NativeFromText(TextView text);

/// `value` as exactly `digits` hexadecimal digits, capital letters, zero-padded on the left (the
/// lowest digits where it has more).
std::string HexDigits(uint64_t value, size_t digits);

/// Fills each "%s" of `pattern` with the next of `args`, in order; nothing else is interpreted.
Text FillTemplate(TextView pattern, std::initializer_list<TextView> args);
