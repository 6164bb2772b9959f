// Which module holds a code address: the module whose image begins at the allocation base of
// the committed memory region around the address.
#include <windows.h>

#include "base/module_path_win32.h"
#include "report/code_module.h"

CodeModule FindCodeModule(uintptr_t address) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof(region)) != 0 &&
      region.State == MEM_COMMIT) {
    auto base = reinterpret_cast<uintptr_t>(region.AllocationBase);
    Text path = ModulePath(reinterpret_cast<HMODULE>(region.AllocationBase));
    if (!path.empty()) return {std::move(path), address - base};
  }
  return {ModulePath(nullptr), address == 0 ? 0 : address - kUnknownModuleCodeStart};
}
