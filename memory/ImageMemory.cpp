#include "memory/ImageMemory.h"

#include <atomic>
#include <cstdlib>

#include "memory/GeneralHeap.h"
#include "memory/MemoryStatistics.h"
#include "memory/ThreadBlockCache.h"

namespace tarn {

std::atomic<bool> PagedMemoryEnabled{false};

MemoryStatistics& Statistics() {
    static MemoryStatistics* stats = new MemoryStatistics();
    return *stats;
}

namespace {

std::atomic<GeneralHeapAllocate> heapAllocate{nullptr};

constexpr size_t RoundUp8(size_t bytes) { return (bytes + 7) & ~size_t{7}; }

bool IsPooledSize(size_t rounded) {
    return rounded == ThreadBlockCache::kSmall || rounded == ThreadBlockCache::kMedium ||
           rounded == ThreadBlockCache::kLarge;
}

}  // namespace

void* GeneralHeapAlloc(size_t bytes) {
    GeneralHeapAllocate fn = heapAllocate.load(std::memory_order_relaxed);
    return fn ? fn(bytes) : std::malloc(bytes);
}
void GeneralHeapFree(void* address) { std::free(address); }
void SetGeneralHeapAllocateForTesting(GeneralHeapAllocate fn) { heapAllocate.store(fn); }

void* AllocateBlock(size_t bytes) {
    const size_t rounded = RoundUp8(bytes);
    void* block = IsPooledSize(rounded) ? ThreadBlockCache::ForSize(rounded).Take() : GeneralHeapAlloc(rounded);
    // Only memory really handed out is counted: a failed allocation is never freed, so
    // counting it would leave the totals wrong for the life of the process.
    if (block) Statistics().Add(static_cast<int64_t>(rounded));
    return block;
}

void FreeBlock(void* address, size_t bytes) {
    if (!address) return;
    const size_t rounded = RoundUp8(bytes);
    if (IsPooledSize(rounded))
        ReturnBlock(address);
    else
        GeneralHeapFree(address);
    Statistics().Subtract(static_cast<int64_t>(rounded));
}

void* AllocateImageMemory(size_t bytes) {
    if (PagedMemoryEnabled.load(std::memory_order_relaxed)) return AllocatePagedImageMemory(bytes);
    return AllocateBlock(bytes);
}

void FreeImageMemory(void* address, size_t bytes) {
    if (PagedMemoryEnabled.load(std::memory_order_relaxed)) return FreePagedImageMemory(address, bytes);
    FreeBlock(address, bytes);
}

}  // namespace tarn
