#include "memory/MemoryBudget.h"

#include "memory/MemoryStatistics.h"
#include "memory/NormalHandleAllocator.h"
#include "memory/Pager.h"

namespace tarn {

void ApplyDefaults(MemoryStatistics& stats) {
    if (!stats.defaultsPending.load(std::memory_order_acquire)) return;
    stats.heapThreshold.store(kDefaultHeapThreshold, std::memory_order_relaxed);
    stats.residentLimit.store(kDefaultResidentLimit, std::memory_order_relaxed);
    // Cleared last, so whoever sees it clear also sees both settings.
    stats.defaultsPending.store(false, std::memory_order_release);
}

uint64_t BytesOverBudget(const MemoryStatistics& stats) {
    const int64_t resident = stats.TotalBytes() -
                             stats.pagedOutBytes.load(std::memory_order_relaxed);
    int64_t limit = stats.residentLimit.load(std::memory_order_relaxed);
    if (limit < 0) limit = 0;
    if (resident <= limit) return 0;
    const int64_t target = limit / 10 * 8 + limit % 10 * 8 / 10;  // 80 %, without overflow
    return static_cast<uint64_t>(resident - target);
}

void EnforceBudget(Pager& pager, MemoryStatistics& stats) {
    if (BytesOverBudget(stats) == 0) return;
    // The size map only grows and its allocators live as long as the pager, so a snapshot is
    // safe to walk without the map's lock.
    const auto allocators = pager.AllocatorsBySize();
    for (paged_allocator::HandleAllocator* a : allocators) a->ReleaseFree(stats, BytesOverBudget(stats));
    pager.SmallAllocator().ReleaseFree(stats, BytesOverBudget(stats));
    if (BytesOverBudget(stats) == 0) return;
    pager.SmallAllocator().PageOut(stats, BytesOverBudget(stats));
    for (paged_allocator::HandleAllocator* a : allocators) a->PageOut(stats, BytesOverBudget(stats));
}

}  // namespace tarn
