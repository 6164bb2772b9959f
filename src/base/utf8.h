// Strict UTF-8 as the Unicode Standard defines well-formed sequences.
#pragma once

#include <string>

#include "base/text.h"

/// The length of the well-formed UTF-8 sequence that starts at `p` (bytes up to `end`) and its
/// code point in `code_point`; 0 when no well-formed sequence starts there.
size_t Utf8Sequence(const unsigned char* p, const unsigned char* end, char32_t* code_point);

/// Appends one code point as UTF-8.
void AppendUtf8(char32_t code_point, std::string* out);

/// Appends one code point as UTF-16, as a surrogate pair above U+FFFF.
void AppendUtf16(char32_t code_point, Text* out);

/// Appends the decoded text; false, appending nothing, when any sequence is ill-formed (stray or
/// missing continuation bytes, overlong forms, encoded surrogates, code points above U+10FFFF,
/// a truncated last sequence).
bool DecodeUtf8Strict(std::string_view bytes, Text* out);

/// Whether `bytes` are well-formed UTF-8, without decoding them. ASCII is passed over a block
/// at a time; each segment of other bytes goes to `judge` as a whole. An ASCII byte is always a
/// character of its own, so the bytes are well-formed exactly when every such segment is.
bool IsWellFormedUtf8(std::string_view bytes, bool (*judge)(std::string_view segment));

/// Whether a segment of bytes is well-formed UTF-8, by the rules of DecodeUtf8Strict.
bool IsWellFormedUtf8Segment(std::string_view segment);

/// Appends `text` as UTF-8; an unpaired surrogate becomes U+FFFD.
void EncodeUtf8Replacing(TextView text, std::string* out);
