// The INI lookup of the Windows private-profile service (GetPrivateProfileStringW), given the
// settings file's path in its long form.
#include <windows.h>

#include <algorithm>

#include "base/wide_win32.h"
#include "files/system_calls_win32.h"
#include "files/system_path_win32.h"
#include "settings/ini_value.h"

Text ReadIniValue(TextView section, TextView key, const Text& path) {
  Text section_name(section), key_name(key);
  Text file = SystemPath(path).value;
  if (file.empty()) file = path;
  wchar_t value[kMaxIniValue + 1];
  DWORD length = os::GetPrivateProfileStringW(Wide(section_name), Wide(key_name), L"", value,
                                              kMaxIniValue + 1, Wide(file));
  return TextFromWide(value, std::min<size_t>(length, kMaxIniValue));
}
