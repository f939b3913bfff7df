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

MemoryStatistics& Statistics();

}  // namespace tarn
