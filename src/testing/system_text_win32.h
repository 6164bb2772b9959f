// For the Windows tests: the system's text for an error, as the open and create failures end.
#pragma once

#include <windows.h>

#include "base/wide_win32.h"
#include "files/file_failures.h"

/// The system's text for `error`, trimmed as the failures trim it.
inline Text SystemText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = TextFromWide(buffer, length);
  LocalFree(buffer);
  return Text(TrimSystemText(text));
}
