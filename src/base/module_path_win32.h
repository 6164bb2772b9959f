// The path of a module loaded in the process, as Windows reports it.
#pragma once

#include <windows.h>

#include "base/text.h"

/// The full path of `module` (nullptr: the running executable), however long it is; empty where
/// Windows has no path for it.
Text ModulePath(HMODULE module);
