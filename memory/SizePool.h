// The unowned chunks of one region that are formatted for one block size.
#pragma once

#include <deque>
#include <mutex>

#include "memory/PoolChunk.h"

namespace tarn {

// partial: released by their owner while still holding free blocks (guarded by partialMutex).
// full: released with no free block; blocks may come back to them through their remote lists
// (guarded by fullMutex; partialMutex may be taken inside it, never the other way round).
struct SizePool {
    explicit SizePool(size_t size) : blockSize(size) {}

    const size_t blockSize;
    std::mutex partialMutex;
    std::deque<PoolChunk*> partial;
    std::mutex fullMutex;
    std::deque<PoolChunk*> full;

    void AppendPartial(PoolChunk* chunk) {
        std::lock_guard<std::mutex> lock(partialMutex);
        partial.push_back(chunk);
    }
    void AppendFull(PoolChunk* chunk) {
        std::lock_guard<std::mutex> lock(fullMutex);
        full.push_back(chunk);
    }
    PoolChunk* TakePartial();
    // Moves full chunks that regained free blocks out of the full queue; returns the last one
    // found and appends the others to the partial queue.
    PoolChunk* TakeRecoveredFull();
    // Removes and returns an unowned chunk whose blocks are all free, or null.
    PoolChunk* TakeWhollyFree();
};

}  // namespace tarn
