// Process-wide counters of image memory. Every field is atomic; the block allocator and the
// paged-memory allocators update them, nothing else writes them.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarn {

struct MemoryStatistics {
    // Bytes handed out and not yet freed (rounded sizes).
    std::atomic<int64_t> totalBytes{0};
    // The part of totalBytes held in process memory; equals totalBytes with paging off.
    std::atomic<int64_t> heapBytes{0};
    // Used by the paged-memory mode only.
    std::atomic<int64_t> pagedOutBytes{0};
    std::atomic<int64_t> heapThreshold{0};
    std::atomic<int64_t> residentLimit{0};
    std::atomic<bool> defaultsPending{true};

    void Add(int64_t bytes) {
        totalBytes.fetch_add(bytes, std::memory_order_relaxed);
        heapBytes.fetch_add(bytes, std::memory_order_relaxed);
    }
    void Subtract(int64_t bytes) { Add(-bytes); }
};

// The process-wide record. Pool blocks are counted per thread and added here when a thread has
// taken or given back more than 4 MiB since it last did, when it ends, and when it calls
// Statistics(): a thread that reads the record sees its own allocations exactly, while other
// running threads' pool blocks may be missing from it by up to 4 MiB each.
MemoryStatistics& Statistics();
// The same record without folding anything in: for the memory subsystem's own counting.
MemoryStatistics& StatisticsRecord();

}  // namespace tarn
