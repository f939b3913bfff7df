// Process-wide counters of image memory. Every field is atomic; the block allocator and the
// paged-memory allocators update them, nothing else writes them.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarn {

struct MemoryStatistics {
    // Booked with atomic additions: general-heap blocks and handle-backed memory. Pool blocks
    // are counted by the threads that take and give them back (no locked instruction on that
    // path); TotalBytes() and HeapBytes() of the process record add them in.
    std::atomic<int64_t> bookedTotalBytes{0};
    std::atomic<int64_t> bookedHeapBytes{0};
    // Used by the paged-memory mode only.
    std::atomic<int64_t> pagedOutBytes{0};
    std::atomic<int64_t> heapThreshold{0};
    std::atomic<int64_t> residentLimit{0};
    std::atomic<bool> defaultsPending{true};

    void Add(int64_t bytes) {
        bookedTotalBytes.fetch_add(bytes, std::memory_order_relaxed);
        bookedHeapBytes.fetch_add(bytes, std::memory_order_relaxed);
    }
    void Subtract(int64_t bytes) { Add(-bytes); }

    // Bytes of image memory handed out and not yet freed (rounded sizes), exact at the moment
    // of reading: the counts of every thread are read as one snapshot, so the result is never
    // below zero and never misses a block that another thread holds.
    int64_t TotalBytes() const;
    // The part of it held in process memory; equals TotalBytes() with paging off.
    int64_t HeapBytes() const;
};

// The process-wide record.
MemoryStatistics& Statistics();

}  // namespace tarn
