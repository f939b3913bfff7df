// The DLL loaded by full path and unloaded again and again in one process, as a host that
// outlives many loads sees it, with what each load may leave behind counted after every cycle.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace thumbhost {

struct CycleDocument {
    std::wstring name;
    const std::vector<BYTE>* bytes;
    bool good;  // must give a thumbnail
};

// Something the host itself leaks once per cycle, to show that the judgement catches it.
enum class Plant { None, TlsSlot, Handle, HeapBlock };

// Cycles without threads or requests: only what a load and an unload leave.
constexpr long kNoRequests = 0;

// Each cycle: LoadLibraryW(dllPath); in some cycles 4 threads each make thumbnails (through
// DllGetClassObject, a fresh factory and provider per request) of one good and one malformed
// document and stay alive until the DLL is unloaded; DllCanUnloadNow must say S_OK, then
// FreeLibrary, and the DLL must be gone; then the threads end. After every cycle: the lowest
// free TLS and FLS slot, handles by type, heap bytes in use and committed private memory.
// Passes (0) when, against the readings after cycle 3 (Wine's own warm-up), the slots and
// handles are the same after the last cycle and heap bytes and committed memory grew by at
// most the bounds per cycle on average; 1 otherwise.
struct LoadBounds {
    double heapBytesPerCycle = 64;
    double committedBytesPerCycle = 256;
};
// `requestEvery`: threads make requests in cycles 1, 1 + requestEvery, ...; kNoRequests for none.
int LoadCycles(const std::wstring& dllPath, long cycles, long requestEvery, const LoadBounds& bounds, Plant plant,
               const std::vector<CycleDocument>& documents);

}  // namespace thumbhost
