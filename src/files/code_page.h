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

/// Appends strictly decoded UTF-8; false, appending nothing, when `bytes` is ill-formed.
bool DecodeUtf8(std::string_view bytes, Text* out);

/// Appends `text` as UTF-8; an unpaired surrogate becomes U+FFFD.
void EncodeUtf8(TextView text, std::string* out);
