#include "files/system_path_win32.h"

#include <windows.h>

#include <vector>

#include "base/path.h"
#include "base/wide_win32.h"
#include "files/system_calls_win32.h"

Found<Text> FullPathName(const Text& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        os::GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return {Step::Failed(GetLastError()), Text()};
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) return {Step::Done(), TextFromWide(buffer.data(), length)};
    buffer.resize(length);
  }
}

Found<Text> SystemPath(const Text& path) {
  Found<Text> absolute = FullPathName(path);
  if (absolute.step.done()) absolute.value = WithLongPrefix(absolute.value);
  return absolute;
}
