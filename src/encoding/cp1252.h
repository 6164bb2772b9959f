// Windows-1252 as Windows maps it: every byte value has a character and back.
#pragma once

#include <string>

#include "base/text.h"

/// Appends every byte as the one code unit that Windows-1252 gives it.
void DecodeCp1252(std::string_view bytes, Text* out);

/// Appends every character as its Windows-1252 byte, or "?" where there is none.
void EncodeCp1252(TextView text, std::string* out);
