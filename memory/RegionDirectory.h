// Every pool region of the process, and the queues that decide which regions are asked first
// for a chunk.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "memory/PoolRegion.h"

namespace tarn {

// One mutex guards everything here; it is held while regions are asked for chunks (so it is
// always taken before any region or SizePool mutex).
class RegionDirectory {
public:
    static constexpr int kSkipLimit = 10;

    static RegionDirectory& Instance();

    // A chunk formatted for blockSize, creating a region when no existing one has a chunk.
    // Throws std::runtime_error when region memory cannot be obtained.
    PoolChunk* GetChunk(size_t blockSize);

    // Test introspection.
    size_t RegionCount();
    size_t ExhaustedCount();
    int SkipCounter();

private:
    struct RegionRecord {
        void* allocationBase;
        PoolRegion* region;
    };

    PoolChunk* RescanExhausted(size_t blockSize, size_t count);
    PoolChunk* CreateRegionChunk(size_t blockSize);

    std::mutex mutex_;
    std::vector<RegionRecord> regions_;
    std::deque<PoolRegion*> available_;
    std::deque<PoolRegion*> exhausted_;
    int skipCounter_ = 0;
};

}  // namespace tarn
