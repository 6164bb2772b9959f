// The settings file beside the executable.
#pragma once

#include <cstdint>
#include <optional>

#include "base/text.h"

/// Answers lookups in one settings (INI) file. Keeps no copy of the file: every lookup reads it
/// afresh; nothing is ever written to it.
class SettingsReader {
 public:
  /// Stores the path only; touches no file.
  explicit SettingsReader(Text path) : path_(std::move(path)) {}

  /// The value of `key` in `section`, at most 2047 code units; empty when there is none.
  Text ReadText(TextView section, TextView key) const;

  /// The value of `key` in `section` converted to an integer; `default_value` when it is missing
  /// or does not convert.
  int32_t ReadInteger(TextView section, TextView key, int32_t default_value) const;

 private:
  Text path_;
};

/// The signed 32-bit integer that `text` spells: leading spaces, one sign, decimal digits or
/// hexadecimal ones after "$", "x", "X", "0x" or "0X", and nothing after the digits. Empty when
/// it spells none or a decimal number out of range.
std::optional<int32_t> ConvertInteger(TextView text);
