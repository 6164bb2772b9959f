// The existence test on POSIX systems: the status of the named object, with a look into its
// folder where the query fails for another reason than a missing name. Every system call goes
// through the seam in system_calls_posix.h.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "files/system_calls_posix.h"
#include "run/existence.h"

namespace {

/// Where the query itself failed for another reason than a missing name: looks the name up in
/// its folder and passes when it is there and is no folder.
bool FoundInFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* dir = os::opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = os::readdir(dir)) {
    if (name == entry->d_name) {
      found = entry->d_type != DT_DIR;
      break;
    }
  }
  os::closedir(dir);
  return found;
}

/// A symbolic link passes when its target exists and is no folder: also one that may not be
/// read, whose load then reports it (here, unlike where another program holds a file open, no
/// open ever fails for a moment only). A link to nothing, or to itself, names nothing.
bool LinkTargetExists(const std::string& path) {
  struct stat target;
  if (os::stat(path.c_str(), &target) != 0) {
    return errno != ENOENT && errno != ENOTDIR && errno != ELOOP && errno != ENAMETOOLONG;
  }
  return !S_ISDIR(target.st_mode);
}

}  // namespace

bool PassesExistenceTest(const Text& path) {
  if (path.empty()) return false;
  std::string native = NativeFromText(path);
  struct stat st;
  if (os::lstat(native.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return false;
    return FoundInFolder(native);
  }
  if (S_ISLNK(st.st_mode)) return LinkTargetExists(native);
  return !S_ISDIR(st.st_mode);
}
