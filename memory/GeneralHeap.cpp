#include "memory/GeneralHeap.h"

#include <atomic>
#include <cstdlib>

namespace tarn {

namespace {
// Null: the process allocator. Tests install a replacement to make allocations fail.
std::atomic<GeneralHeapAllocate> allocateOverride{nullptr};
}  // namespace

void* GeneralHeapAlloc(size_t bytes) {
    GeneralHeapAllocate allocate = allocateOverride.load(std::memory_order_relaxed);
    return allocate ? allocate(bytes) : std::malloc(bytes);
}

void GeneralHeapFree(void* address) { std::free(address); }

void SetGeneralHeapAllocateForTesting(GeneralHeapAllocate fn) { allocateOverride.store(fn); }

}  // namespace tarn
