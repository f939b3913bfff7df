#include "memory/MemoryStatistics.h"

#include "memory/ThreadBlockCache.h"

namespace tarn {

namespace {
// Constant-initialised, so it is ready before any static constructor allocates, and never
// destroyed, so blocks freed during static destruction are still counted.
constinit MemoryStatistics processStatistics;
}  // namespace

MemoryStatistics& Statistics() { return processStatistics; }

// Pool blocks exist only in the process record; a private record (tests) is its booked part.
int64_t MemoryStatistics::TotalBytes() const {
    if (this != &processStatistics) return bookedTotalBytes.load(std::memory_order_acquire);
    return ThreadBlockCache::LiveBytesWith(bookedTotalBytes);
}

int64_t MemoryStatistics::HeapBytes() const {
    if (this != &processStatistics) return bookedHeapBytes.load(std::memory_order_acquire);
    return ThreadBlockCache::LiveBytesWith(bookedHeapBytes);
}

}  // namespace tarn
