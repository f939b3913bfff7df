// Image memory with the paged-memory switch on: every allocation is a handle.
#include <map>
#include <mutex>

#include "memory/GeneralHeap.h"
#include "memory/HeapHandle.h"
#include "memory/ImageMemory.h"
#include "memory/MemoryBudget.h"
#include "memory/MemoryStatistics.h"
#include "memory/SlimMutex.h"
#include "memory/PagedMemory.h"
#include "memory/Pager.h"

namespace tarn {

namespace {

constexpr uint64_t RoundUp8(size_t bytes) { return (uint64_t{bytes} + 7) & ~uint64_t{7}; }
// Tiny requests are never worth a slot in the pager file.
constexpr uint64_t kSmallestFileBacked = 264;

// Live bytes per rounded request size: a size earns file-backed handles once enough of it is
// in use, so a program that holds many (or very large) images of one size can page them.
struct SizeCounts {
    SlimMutex mutex;
    std::map<uint64_t, int64_t> bytes;
};
SizeCounts& Counts() {
    static SizeCounts* counts = new SizeCounts();  // outlives every image freed at exit
    return *counts;
}

int64_t CountSize(uint64_t size, int64_t delta) {
    SizeCounts& c = Counts();
    std::lock_guard<SlimMutex> lock(c.mutex);
    auto it = c.bytes.try_emplace(size, 0).first;
    const int64_t now = it->second += delta;
    if (now == 0) c.bytes.erase(it);
    return now;
}

NMemHandle* AllocateFromHeap(MemoryStatistics& stats, uint64_t size) {
    void* block = GeneralHeapAlloc(size);
    if (!block) return nullptr;
    NMemHandle* handle;
    try {
        handle = new HeapHandle(block, size);
    } catch (...) {
        GeneralHeapFree(block);
        throw;
    }
    stats.Add(static_cast<int64_t>(size));
    return handle;
}

}  // namespace

NMemHandle* AllocateImageHandle(size_t bytes) {
    const uint64_t size = RoundUp8(bytes);
    MemoryStatistics& stats = Statistics();
    ApplyDefaults(stats);
    // Without a pager nothing is pageable yet, and the budget has nothing to act on.
    if (Pager* pager = Pager::Existing()) EnforceBudget(*pager, stats);
    const bool heapFull =
        stats.HeapBytes() > stats.heapThreshold.load(std::memory_order_relaxed);
    if (size == Pager::kUnit) return Pager::Get().SmallAllocator().Allocate(stats, heapFull);

    const int64_t sizeBytes = CountSize(size, static_cast<int64_t>(size));
    NMemHandle* handle = nullptr;
    try {
        if (heapFull && size >= kSmallestFileBacked && sizeBytes >= kFileBackedSizeBytes)
            handle = Pager::Get().AllocatorFor(size).Allocate(stats, true);
        else
            handle = AllocateFromHeap(stats, size);
    } catch (...) {
        CountSize(size, -static_cast<int64_t>(size));
        throw;
    }
    if (!handle) CountSize(size, -static_cast<int64_t>(size));
    return handle;
}

void FreeImageHandle(NMemHandle* handle, size_t bytes) {
    if (!handle) return;
    const uint64_t size = RoundUp8(bytes);
    if (size == Pager::kUnit) return Pager::Get().FreeBySize(handle, size);
    CountSize(size, -static_cast<int64_t>(size));
    // A pageable handle's memory stays booked with its allocator (on the free list) until the
    // allocator releases it, so only heap handles leave the statistics here.
    if (handle->IsPageable()) return Pager::Get().FreeBySize(handle, size);
    delete handle;
    Statistics().Subtract(static_cast<int64_t>(size));
}

int64_t LiveBytesOfSize(uint64_t roundedSize) {
    SizeCounts& c = Counts();
    std::lock_guard<SlimMutex> lock(c.mutex);
    auto it = c.bytes.find(roundedSize);
    return it == c.bytes.end() ? 0 : it->second;
}

void* AllocatePagedImageMemory(size_t bytes) { return AllocateImageHandle(bytes); }
void FreePagedImageMemory(void* address, size_t bytes) { FreeImageHandle(static_cast<NMemHandle*>(address), bytes); }

}  // namespace tarn
