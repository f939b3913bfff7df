// Windows entry point; compiled only into the Windows build.
#include "server/Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) AttachModule(instance);
    return TRUE;
}

HMODULE ModuleHandle() { return AttachedModule(); }
