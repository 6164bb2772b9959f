// Which module of the process holds a code address.
#pragma once

#include <cstdint>

#include "base/text.h"

/// A code address placed in the module that holds it.
struct CodeModule {
  Text path;          ///< the module's full path
  uint64_t relative;  ///< the address's distance from the start of the module's image
};

/// What is taken off an address that lies in no known module. With no module there is no image
/// base to take off; one page (hex 1000), where an executable's first section usually begins
/// after the headers that fill its first page, is a fixed stand-in for it. The figure then
/// depends on the address alone, alike on every platform, so that two reports of one address
/// show the same digits.
inline constexpr uint64_t kUnknownModuleCodeStart = 0x1000;

/// The module that holds `address`. Where the platform knows none (the address lies outside
/// committed memory, or its module has no path), the running executable, with the address less
/// kUnknownModuleCodeStart (0 for the address 0).
CodeModule FindCodeModule(uintptr_t address);
