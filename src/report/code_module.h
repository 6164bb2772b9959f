// Which module of the process holds a code address.
#pragma once

#include <cstdint>

#include "base/text.h"

/// A code address placed in the module that holds it.
struct CodeModule {
  Text path;          ///< the module's full path
  uint64_t relative;  ///< the address's distance from the start of the module's image
};

/// The module that holds `address`. Where the platform knows none (the address lies outside
/// committed memory, or its module has no path), the running executable, with the address less
/// hex 1000 (0 for the address 0).
CodeModule FindCodeModule(uintptr_t address);
