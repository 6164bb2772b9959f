#include "base/module_path_win32.h"
#include "base/own_path.h"

Text OwnExecutablePath() { return ModulePath(nullptr); }
