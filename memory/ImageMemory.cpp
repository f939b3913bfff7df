#include "memory/ImageMemory.h"

#include <cstdint>

#include "memory/GeneralHeap.h"
#include "memory/MemoryStatistics.h"
#include "memory/PoolGeometry.h"
#include "memory/ThreadBlockCache.h"

namespace tarn {

std::atomic<bool> PagedMemoryEnabled{false};

void* AllocateImageMemory(size_t bytes) {
    if (PagedMemoryEnabled.load(std::memory_order_relaxed)) [[unlikely]]
        return AllocatePagedImageMemory(bytes);
    return AllocateBlock(bytes);
}

void FreeImageMemory(void* address, size_t bytes) {
    if (PagedMemoryEnabled.load(std::memory_order_relaxed)) [[unlikely]]
        return FreePagedImageMemory(address, bytes);
    FreeBlock(address, bytes);
}

void* AllocateBlock(size_t bytes) {
    // A size this large cannot be rounded or counted; it fails like exhausted memory.
    if (bytes > kLargestImageMemoryRequest) [[unlikely]]
        return nullptr;
    const size_t rounded = RoundUpTo8(bytes);
    const int sizeClass = PooledSizeClass(rounded);
    // Pool blocks are counted by the thread's caches.
    if (sizeClass >= 0) [[likely]]
        return ThreadBlockCache::TakeBlock(static_cast<unsigned>(sizeClass));
    void* block = GeneralHeapAlloc(rounded);
    // Only memory really handed out is counted: a failed allocation is never freed, so
    // counting it would leave the totals wrong for the life of the process.
    if (block) Statistics().Add(static_cast<int64_t>(rounded));
    return block;
}

void FreeBlock(void* address, size_t bytes) {
    if (!address) [[unlikely]]
        return;
    const size_t rounded = RoundUpTo8(bytes);
    const int sizeClass = PooledSizeClass(rounded);
    if (sizeClass >= 0) [[likely]]
        return ThreadBlockCache::ReturnBlock(address, static_cast<unsigned>(sizeClass));
    GeneralHeapFree(address);
    Statistics().Subtract(static_cast<int64_t>(rounded));
}

bool ReleaseImageMemoryOnUnload() { return ThreadBlockCache::ReleaseAllOnUnload(); }

}  // namespace tarn
