// Modules on POSIX systems: the executable and the shared objects that the dynamic linker
// mapped, as dladdr knows them.
#include <dlfcn.h>
#include <sys/auxv.h>

#include "base/own_path.h"
#include "report/code_module.h"

namespace {

/// The load base of the running executable, found through its program headers.
const void* ExecutableBase() {
  Dl_info info;
  auto headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
  if (!headers || !dladdr(headers, &info)) return nullptr;
  return info.dli_fbase;
}

}  // namespace

CodeModule FindCodeModule(uintptr_t address) {
  Dl_info info;
  if (address != 0 && dladdr(reinterpret_cast<const void*>(address), &info) && info.dli_fbase) {
    uint64_t relative = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
    // For the executable dladdr gives the name it was started by; its own path is the full one.
    if (info.dli_fbase == ExecutableBase()) return {OwnExecutablePath(), relative};
    if (info.dli_fname && *info.dli_fname) return {TextFromNative(info.dli_fname), relative};
  }
  return {OwnExecutablePath(), address == 0 ? 0 : address - kUnknownModuleCodeStart};
}
