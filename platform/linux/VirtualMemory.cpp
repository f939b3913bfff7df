#include "VirtualMemory.h"

#include <sys/mman.h>

#include <map>
#include <mutex>
#include <new>

#include "Sync.h"

namespace {

// VirtualFree(MEM_RELEASE) takes only the base address, so remember each region's size. Made
// with the first region and deleted with the last, never by a static destructor: a library's
// unload code may free regions after its static objects are gone, and an unloaded library
// leaves nothing behind.
std::mutex regionsMutex;
constinit std::map<uintptr_t, size_t>* regions = nullptr;

constexpr size_t kAllocationGranularity = 0x10000;

bool IsPowerOfTwo(size_t v) { return v && !(v & (v - 1)); }

int Protection(ULONG pageProtection) {
    return pageProtection == PAGE_READWRITE  ? PROT_READ | PROT_WRITE
           : pageProtection == PAGE_READONLY ? PROT_READ
           : pageProtection == PAGE_NOACCESS ? PROT_NONE
                                             : -1;
}

size_t RoundUpToPage(size_t size) { return (size + 0xFFF) & ~size_t{0xFFF}; }

// Records a fresh mapping for VirtualFree; without memory for the record it is unmapped again.
PVOID Remember(uintptr_t base, size_t size) {
    try {
        std::lock_guard<std::mutex> lock(regionsMutex);
        if (!regions) regions = new std::map<uintptr_t, size_t>();
        (*regions)[base] = size;
    } catch (const std::bad_alloc&) {
        munmap(reinterpret_cast<void*>(base), size);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<PVOID>(base);
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    // Only new ranges: committing inside a reserved range is not needed by the system.
    int prot = Protection(protect);
    if (size == 0 || !(allocationType & MEM_RESERVE) || (at & (kAllocationGranularity - 1)) || prot < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!(allocationType & MEM_COMMIT)) prot = PROT_NONE;
    size = RoundUpToPage(size);
    void* p = mmap(address, size, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | (address ? MAP_FIXED_NOREPLACE : 0),
                   -1, 0);
    if (p == MAP_FAILED) {
        SetLastError(address ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Kernels before 4.17 take MAP_FIXED_NOREPLACE as a mere hint.
    if (address && p != address) {
        munmap(p, size);
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    return Remember(reinterpret_cast<uintptr_t>(p), size);
}

PVOID VirtualAlloc2(HANDLE process, PVOID baseAddress, SIZE_T size, ULONG allocationType, ULONG pageProtection,
                    MEM_EXTENDED_PARAMETER* extendedParameters, ULONG parameterCount) {
    if ((process && process != GetCurrentProcess()) || baseAddress || size == 0 ||
        !(allocationType & (MEM_RESERVE | MEM_COMMIT)) || (parameterCount && !extendedParameters)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t alignment = kAllocationGranularity;
    for (ULONG i = 0; i < parameterCount; ++i) {
        if (extendedParameters[i].Type != MemExtendedParameterAddressRequirements) continue;
        auto* req = static_cast<MEM_ADDRESS_REQUIREMENTS*>(extendedParameters[i].Pointer);
        if (!req || req->LowestStartingAddress || req->HighestEndingAddress) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (req->Alignment) {
            if (!IsPowerOfTwo(req->Alignment) || req->Alignment < kAllocationGranularity) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            alignment = req->Alignment;
        }
    }
    const int prot = Protection(pageProtection);
    if (prot < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size = RoundUpToPage(size);
    // Reserve size + alignment, then trim both ends so the kept range is aligned.
    size_t span = size + alignment;
    void* raw = mmap(nullptr, span, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (start + alignment - 1) & ~(alignment - 1);
    if (aligned > start) munmap(raw, aligned - start);
    uintptr_t end = aligned + size;
    if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
    return Remember(aligned, size);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    if (freeType != MEM_RELEASE || size != 0) {
        // Decommit is not needed by the system; only whole-region release is supported.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t length;
    {
        std::lock_guard<std::mutex> lock(regionsMutex);
        const auto it = regions ? regions->find(reinterpret_cast<uintptr_t>(address)) : std::map<uintptr_t, size_t>::iterator{};
        if (!regions || it == regions->end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        length = it->second;
        regions->erase(it);
        if (regions->empty()) {
            delete regions;
            regions = nullptr;
        }
    }
    munmap(address, length);
    return TRUE;
}
