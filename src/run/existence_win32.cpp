// The existence test on Windows: the attributes of the named object, with a look into its folder
// where the query fails for another reason than a missing name. The path goes to the system in
// its long form, through the seam of the file calls.
#include <windows.h>

#include "base/wide_win32.h"
#include "files/system_calls_win32.h"
#include "files/system_path_win32.h"
#include "run/existence.h"

namespace {

/// Passes when the folder holds an entry of the name that is no folder.
bool FoundInFolder(const Text& path) {
  WIN32_FIND_DATAW entry;
  HANDLE search = os::FindFirstFileW(Wide(path), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  os::FindClose(search);
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

/// Whether an open's `error` says that nothing is there: a missing target, a name that cannot
/// be one, a chain of links that leads nowhere.
bool NothingThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_CANT_RESOLVE_FILENAME;
}

/// Whether the link at `path` leads to a folder, seen through a handle that asks for no access
/// to the content (which also a file that may not be read gives). False where it cannot be told.
bool LeadsToFolder(const Text& path) {
  HANDLE target =
      os::CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool folder = os::GetFileInformationByHandle(target, &information) &&
                (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  os::CloseHandle(target);
  return folder;
}

/// A link passes when its target opens for reading, or is only held by somebody else, or is
/// there but may not be read (its load then reports that); a link to nothing or to a folder
/// does not.
bool LinkTargetOpens(const Text& path) {
  HANDLE file = os::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return true;
    // A folder refuses this open too, with the same error as a file that may not be read.
    return !NothingThere(error) && !LeadsToFolder(path);
  }
  os::CloseHandle(file);
  return true;
}

}  // namespace

bool PassesExistenceTest(const Text& given) {
  if (given.empty()) return false;
  Text path = SystemPath(given).value;
  if (path.empty()) path = given;
  DWORD attributes = os::GetFileAttributesW(Wide(path));
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
