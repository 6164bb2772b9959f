#include "files/absolute_path.h"
#include "files/system_path_win32.h"

Text AbsolutePath(const Text& path) { return FullPathName(path).value; }
