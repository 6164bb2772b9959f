#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/path.h"
#include "files/absolute_path.h"
#include "files/system_calls_posix.h"

Text AbsolutePath(const Text& path) {
  std::string native = NativeFromText(path);
  if (native.empty()) return Text();
  if (native[0] != '/') {
    std::vector<char> folder(PATH_MAX);
    while (!os::getcwd(folder.data(), folder.size())) {
      if (errno != ERANGE) return Text();
      folder.resize(folder.size() * 2);
    }
    native = std::string(folder.data()) + "/" + native;
  }
  // The system goes back from where a link leads: a ".." after one stays.
  return FoldedPath(TextFromNative(native), [](TextView path) {
    struct stat st;
    return os::lstat(NativeFromText(Text(path)).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  });
}
