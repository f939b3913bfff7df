// Module handles and run-time symbol lookup. "kernelbase.dll" resolves to this layer's
// own exports, so code that looks VirtualAlloc2 up at run time works unchanged.
#pragma once

#include "Types.h"

HMODULE LoadLibraryW(LPCWSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
BOOL DisableThreadLibraryCalls(HMODULE module);

#define MAX_PATH 260
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
