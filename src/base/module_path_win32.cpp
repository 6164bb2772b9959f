#include "base/module_path_win32.h"

#include <vector>

#include "base/wide_win32.h"

Text ModulePath(HMODULE module) {
  // Room for the classic longest path and its terminator first. A result that fills the room is
  // cut, and its last character may be the terminator: the room grows and the call is repeated.
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) return TextFromWide(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}
