#include <windows.h>

#include <vector>

#include "files/wide_win32.h"
#include "run/own_path.h"

Text OwnExecutablePath() {
  // Room for the classic longest path and its terminator first; a longer path grows the room.
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) return TextFromWide(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}
