// Process-wide state of the server: the module handle and the object count that decides
// whether the DLL may be unloaded.
#pragma once

#include "platform/Platform.h"

// The one class the server exposes: {7A3C51E2-4B9D-4F06-9C18-2D5E8B0F6A47}.
extern const CLSID CLSID_KwbThumbnailProvider;

// Interlocked; +1 for each live provider and class factory and each LockServer(TRUE).
void ModuleAddRef();
void ModuleRelease();
LONG ModuleObjectCount();
// From a ModuleRelease on, DllCanUnloadNow may say S_OK and the DLL be unmapped: an object
// gives its reference back in Release after `delete this`, as the last thing it does.

// Stores the module handle and asks for no thread notifications; the process-attach step.
// DisableThreadLibraryCalls fails for this DLL (it has a TLS directory, which a module with
// TLS callbacks cannot do without), so thread notifications stay on. The runtime relies on
// that: its TLS callback frees each ending thread's variables
// (platform/windows/runtime/ThreadRuntime.cpp). The pools rely on nothing of the kind: the
// system calls their fiber-local-storage callback at every thread's exit.
void AttachModule(HMODULE module);
HMODULE AttachedModule();
// The module is unloaded while the process goes on: with no object alive, the image memory
// pools go back to the system (they keep everything while a block is live). Returns whether
// they did.
bool DetachModule();
// The module handle for GetModuleFileNameW. Defined next to each platform's attach code
// (DllMain.cpp, ModuleAttachPosix.cpp), so that any caller links that code in.
HMODULE ModuleHandle();
