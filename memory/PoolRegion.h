// A 16 MiB, 16 MiB-aligned block of committed memory split into eight 2 MiB chunks. Its header
// lives in block 0 of the first chunk, behind that chunk's own header.
#pragma once

#include <deque>
#include <map>
#include <mutex>

#include "memory/PoolChunk.h"
#include "memory/SizePool.h"

namespace tarn {

// mapMutex guards `pools` (the SizePools themselves are never destroyed); emptyMutex guards
// `empty`. emptyMutex is released before a SizePool is looked up; mapMutex is taken before a
// SizePool's queue mutexes when chunks are stolen for another size.
class PoolRegion {
public:
    // Builds the header inside `base` (16 MiB, aligned) and queues all eight chunks as empty.
    static PoolRegion* Create(void* base);
    static PoolRegion* Of(const void* address) {
        auto* chunk0 = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(address) & ~(kRegionSize - 1));
        return reinterpret_cast<PoolRegion*>(chunk0 + sizeof(PoolChunk));
    }

    // A chunk formatted for (or already serving) blockSize, or null when the region has none.
    PoolChunk* TakeChunk(size_t blockSize);
    // Queues an unowned chunk as partial or full in its size's pool.
    void ReleaseChunk(PoolChunk* chunk);

    // Test introspection.
    size_t EmptyChunkCount();
    size_t QueuedChunkCount(size_t blockSize);

private:
    explicit PoolRegion(char* base);
    SizePool& PoolFor(size_t blockSize);
    PoolChunk* StealWhollyFree(size_t blockSize);

    std::mutex mapMutex;
    std::map<size_t, SizePool*> pools;
    std::mutex emptyMutex;
    std::deque<PoolChunk*> empty;
};

}  // namespace tarn
