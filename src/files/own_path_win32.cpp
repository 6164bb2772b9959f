#include "files/module_path_win32.h"
#include "files/own_path.h"

Text OwnExecutablePath() { return ModulePath(nullptr); }
