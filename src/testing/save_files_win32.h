// For the Windows tests of the save: which file an open handle is, told by the name the system
// gives it (asked of the system itself, past the seam, so that no fault test counts it).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

/// Which file the open file is: "new" (a file of the save's own under a temporary name), "backup"
/// (a file under a backup's name) or "program".
inline std::string Whose(HANDLE file) {
  wchar_t name[4096];
  DWORD length = GetFinalPathNameByHandleW(file, name, 4096, 0);
  std::wstring_view path(name, length < 4096 ? length : 0);
  if (path.find(L"~prune") != path.npos) return "new";
  if (path.find(L".prune-backup") != path.npos) return "backup";
  return "program";
}

/// Whether the open file is one that the save made (a new file or a backup).
inline bool MadeBySave(HANDLE file) { return Whose(file) != "program"; }
