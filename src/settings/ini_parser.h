// Our own reader of the common INI form, for platforms without an INI service of their own. It
// follows that service where a user would notice:
// - a file with a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark is read in that encoding, any
//   other in Windows-1252; lines end with CR LF, LF or CR;
// - blanks (spaces, tabs, vertical tabs, form feeds and Ctrl-Z) around every line, around key
//   names and around values are dropped;
// - a line "[name]" starts a section (blanks around the name inside the brackets are dropped,
//   anything after the last "]" is ignored); a line starting with ";" is a comment; any other
//   line "key=value" gives a key its value, and a line without "=" names a key without one;
// - section and key names match regardless of ASCII case (other letters must match exactly);
// - only the first section of a name counts, and in it only the first key of a name;
// - one pair of matching double or single quotes around a value is removed;
// - a value is cut to its first kMaxIniValue code units.
#pragma once

#include <cstddef>
#include <string>

#include "base/text.h"

/// The most bytes of an INI file that are read. A settings file holds a few lines; of a larger
/// file only the start is looked at, so that a stray huge file neither stalls the run nor
/// exhausts its memory.
inline constexpr size_t kMaxIniFileBytes = size_t{4} << 20;

/// The text of an INI file whose first bytes are `bytes`, decoded by its byte-order mark (which
/// is dropped). Of more than kMaxIniFileBytes bytes only the first kMaxIniFileBytes are decoded,
/// and the line that the cut falls into is dropped, so that no cut value is ever delivered.
Text DecodeIniFile(std::string_view bytes);

/// The value of the first `key` in the first `section` of the INI text `text`, at most
/// kMaxIniValue code units; empty when the section or the key is missing.
Text FindIniValue(TextView text, TextView section, TextView key);
