// Process attach where there is no DllMain: a static initialiser stores the handle. Any
// address inside the loaded object identifies it to GetModuleFileNameW, so the address of
// a function defined here stands for the module.
#include "server/Module.h"

HMODULE ModuleHandle() { return AttachedModule(); }

namespace {
[[maybe_unused]] const bool attached = (AttachModule(reinterpret_cast<HMODULE>(reinterpret_cast<void*>(&ModuleHandle))), true);
}  // namespace
