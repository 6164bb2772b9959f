#include "files/settings.h"

#include "files/profile.h"

Text SettingsReader::ReadText(TextView section, TextView key) const {
  return ReadProfileString(section, key, path_);
}

int32_t SettingsReader::ReadInteger(TextView section, TextView key, int32_t default_value) const {
  return ConvertInteger(ReadText(section, key)).value_or(default_value);
}

std::optional<int32_t> ConvertInteger(TextView) { return std::nullopt; }
