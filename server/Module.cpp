#include "server/Module.h"

#include "memory/ImageMemory.h"

const CLSID CLSID_KwbThumbnailProvider = {0x7A3C51E2, 0x4B9D, 0x4F06, {0x9C, 0x18, 0x2D, 0x5E, 0x8B, 0x0F, 0x6A, 0x47}};

namespace {
// Changed only by interlocked operations; read by DllCanUnloadNow.
LONG volatile objectCount = 0;
}  // namespace

void ModuleAddRef() { InterlockedIncrement(&objectCount); }
void ModuleRelease() { InterlockedDecrement(&objectCount); }
LONG ModuleObjectCount() { return InterlockedCompareExchange(&objectCount, 0, 0); }

namespace {
HMODULE attachedModule = nullptr;
}  // namespace

void AttachModule(HMODULE module) {
    attachedModule = module;
    // Fails in the DLL (see Module.h); harmless, since DllMain ignores thread notifications.
    DisableThreadLibraryCalls(module);
}

HMODULE AttachedModule() { return attachedModule; }

bool DetachModule() {
    // An object alive means a request may still run on another thread.
    if (ModuleObjectCount() != 0) return false;
    return tarn::ReleaseImageMemoryOnUnload();
}
