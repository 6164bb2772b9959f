#include "files/system_path_win32.h"

#include "base/path.h"
#include "files/absolute_path.h"

Text SystemPath(const Text& path) {
  Text absolute = AbsolutePath(path);
  return absolute.empty() ? Text() : WithLongPrefix(absolute);
}
