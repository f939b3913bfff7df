// A 16 MiB region of committed memory, aligned to 16 MiB and split into eight 2 MiB chunks.
// Its header lives in the region's first chunk, right behind that chunk's own header, inside
// block 0 (never handed out), so a region needs no memory outside itself.
#pragma once

#include <cstddef>
#include <mutex>

#include "memory/IntrusiveQueue.h"
#include "memory/PoolChunk.h"
#include "memory/PoolGeometry.h"
#include "memory/SizePool.h"

namespace tarn {

// Who touches what:
// - `emptyChunks` (never formatted, or returned whole): only under `emptyMutex`, which is let
//   go before any SizePool is looked at.
// - `pools`: one SizePool per pooled block size, ascending, all made with the region (the
//   map of block size to pool is the fixed size-class table, so looking one up needs no lock).
//   Each pool guards its own queues. `mapMutex` is held while a chunk is stolen from one pool
//   for another size, and is taken before any pool's queue mutexes.
// - `queueNext`: the link of the directory queue that holds the region, under the directory
//   mutex.
// Chunks are taken only by a RegionDirectory, under its mutex; chunks come back (HandBack)
// from any thread without the directory mutex.
class PoolRegion {
public:
    // Builds the header in the region at `base` (16 MiB aligned, zero-filled) and queues its
    // eight chunks, in address order, as empty.
    static PoolRegion* InitializeAt(void* base);
    // The region header of any address inside a region.
    static PoolRegion* Of(const void* address);
    // A chunk its thread gives up: no owner, then back to the pool of its block size in its
    // region. Any thread, without the directory mutex.
    static void HandBack(PoolChunk* chunk);

    PoolRegion(const PoolRegion&) = delete;
    PoolRegion& operator=(const PoolRegion&) = delete;

    void* Base() const { return PoolChunk::Of(this); }
    SizePool& PoolFor(size_t blockSize) { return pools[PooledSizeClass(blockSize)]; }

    // A chunk formatted for `blockSize`, or one of that size with a free block; null when the
    // region has none to give.
    PoolChunk* TakeChunk(size_t blockSize);

    PoolRegion* queueNext = nullptr;

private:
    friend struct PoolIntrospection;
    PoolRegion() = default;
    PoolChunk* TakeEmpty(size_t blockSize);
    PoolChunk* StealWhollyFree(size_t blockSize);

    SlimMutex emptyMutex;
    IntrusiveQueue<PoolChunk> emptyChunks;
    SlimMutex mapMutex;
    SizePool pools[kPooledSizeCount]{SizePool(kPooledBlockSizes[0]), SizePool(kPooledBlockSizes[1]),
                                     SizePool(kPooledBlockSizes[2])};
};

}  // namespace tarn
