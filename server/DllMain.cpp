// Windows entry point; compiled only into the Windows build.
#include "server/Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        AttachModule(instance);
        ThreadRuntimeAttached();
    }
    // A null reserved pointer: FreeLibrary while the process goes on. At process exit other
    // threads may have died holding locks, so nothing is touched then.
    if (reason == DLL_PROCESS_DETACH && !reserved) DetachModule();
    return TRUE;
}

HMODULE ModuleHandle() { return AttachedModule(); }
