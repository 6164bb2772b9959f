// The text conversions of the platform: the system's ANSI code page and UTF-8.
#pragma once

#include <span>
#include <string>

#include "base/text.h"

/// Makes sure the ANSI code page is known and valid; raises the code page failure otherwise.
void PrepareAnsiCodePage();

/// Appends `bytes` decoded in the ANSI code page; never fails on content.
void DecodeAnsi(std::string_view bytes, Text* out);

/// Appends `text` encoded in the ANSI code page; a character it lacks becomes a substitute.
void EncodeAnsi(TextView text, std::string* out);

/// The byte-order mark that the save writes for the ANSI encoding (EF BB BF only where the
/// ANSI code page is UTF-8).
std::string_view AnsiByteOrderMark();

/// Whether the ANSI code page is a single-byte code page (every byte value one character).
bool AnsiIsSingleByte();

/// Whether decoding bytes in the ANSI encoding and encoding the text again gives back the same
/// bytes, and every test on ASCII text gives the same answer on the bytes as on the text: the
/// code page is single-byte, each byte decodes to one code unit, the ASCII bytes to themselves
/// and every other byte to a code unit above ASCII, and those 256 code units encode to the 256
/// bytes again. Decided once, by the conversions themselves.
bool AnsiKeepsEveryByte();

/// Appends strictly decoded UTF-8; false, appending nothing, when `bytes` is ill-formed.
bool DecodeUtf8(std::string_view bytes, Text* out);

/// Whether DecodeUtf8 would decode `bytes`, found without decoding them.
bool IsDecodableUtf8(std::string_view bytes);

/// Appends `text` as UTF-8; an unpaired surrogate becomes U+FFFD.
void EncodeUtf8(TextView text, std::string* out);
