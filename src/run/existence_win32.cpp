// The existence test on Windows: the attributes of the named object, with a look into its folder
// where the query fails for another reason than a missing name.
#include <windows.h>

#include "base/wide_win32.h"
#include "run/existence.h"

namespace {

/// Passes when the folder holds an entry of the name that is no folder.
bool FoundInFolder(const Text& path) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(Wide(path), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

/// A link passes when its target opens for reading, or is only held by somebody else.
bool LinkTargetOpens(const Text& path) {
  HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return true;
}

}  // namespace

bool PassesExistenceTest(const Text& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME) {
      return false;
    }
    return FoundInFolder(path);
  }
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return !folder && LinkTargetOpens(path);
  return !folder;
}
