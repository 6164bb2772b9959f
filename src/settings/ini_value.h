// The platform's lookup in an INI file.
#pragma once

#include "base/text.h"

/// The longest value that a lookup delivers.
inline constexpr size_t kMaxIniValue = 2047;

/// The value of `key` in `section` of the INI file at `path`, at most kMaxIniValue code
/// units; empty when the file, the section or the key is missing. Never fails.
Text ReadIniValue(TextView section, TextView key, const Text& path);
