// Where the running executable lives.
#pragma once

#include "base/text.h"

/// The full path of the running executable, as the platform reports it.
Text OwnExecutablePath();
