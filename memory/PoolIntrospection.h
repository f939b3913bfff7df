// Test-only view into the block pools: queue contents, list lengths, the directory's state,
// and a way to give one thread a private directory so its chunks start from a known state.
// Product code never includes this.
#pragma once

#include <cstddef>
#include <vector>

#include "memory/PoolChunk.h"
#include "memory/PoolRegion.h"
#include "memory/RegionDirectory.h"

namespace tarn {

struct PoolIntrospection {
    // The calling thread's current chunk for a pooled block size (null when it has none).
    static PoolChunk* CurrentChunk(size_t blockSize);
    // Hands the calling thread's chunks back and makes its caches take chunks from `directory`
    // from now on. The thread must end, or switch back, before `directory` is destroyed.
    static void UseDirectoryOnThisThread(RegionDirectory& directory);

    static size_t LocalFreeCount(const PoolChunk* chunk);
    static size_t RemoteFreeCount(const PoolChunk* chunk);

    static std::vector<PoolChunk*> EmptyChunks(PoolRegion* region);
    static std::vector<PoolChunk*> PartialChunks(PoolRegion* region, size_t blockSize);
    static std::vector<PoolChunk*> FullChunks(PoolRegion* region, size_t blockSize);

    static bool Contains(RegionDirectory& directory, const void* address);
    static size_t RegionCount(RegionDirectory& directory);
    static std::vector<PoolRegion*> AvailableRegions(RegionDirectory& directory);
    static std::vector<PoolRegion*> ExhaustedRegions(RegionDirectory& directory);
    static size_t SkipCounter(RegionDirectory& directory);

    // Per-thread records the pools keep (threads that took a pool block and have not ended).
    static size_t ThreadRecordCount();
    // Whether the thread-exit slot is allocated.
    static bool HasThreadExitSlot();
};

}  // namespace tarn
