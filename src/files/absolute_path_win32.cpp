#include <windows.h>

#include <vector>

#include "base/wide_win32.h"
#include "files/absolute_path.h"
#include "files/system_calls_win32.h"

Text AbsolutePath(const Text& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        os::GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return Text();
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) return TextFromWide(buffer.data(), length);
    buffer.resize(length);
  }
}
