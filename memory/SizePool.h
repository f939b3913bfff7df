// The chunks of one region and one block size that no thread owns and that still hold, or may
// again hold, free blocks.
#pragma once

#include <cstddef>
#include <mutex>

#include "memory/IntrusiveQueue.h"
#include "memory/PoolChunk.h"
#include "memory/SlimMutex.h"

namespace tarn {

// Who touches what:
// - `partial` (chunks handed back with a free block): only under `partialMutex`.
// - `full` (chunks handed back with no free block; blocks may come back to them through their
//   remote lists): only under `fullMutex`. When both are needed, `fullMutex` is taken first.
// - `blockSize`: fixed at construction.
// Every chunk in either queue has owner 0; its local list is read or changed only under the
// mutex of the queue that holds it.
class SizePool {
public:
    explicit SizePool(size_t blockSize) : blockSize(blockSize) {}
    SizePool(const SizePool&) = delete;
    SizePool& operator=(const SizePool&) = delete;

    size_t BlockSize() const { return blockSize; }

    // A chunk whose owner let it go: partial when either list holds a block, else full.
    void AddReleased(PoolChunk* chunk);
    // Front of the partial queue, or null.
    PoolChunk* TakePartial();
    // Sorts the full queue: chunks that have regained a free block leave it; the last one found
    // is returned and the others join the partial queue. Null when none has.
    PoolChunk* TakeRefilledFromFull();
    // An unowned chunk all of whose blocks are free, from the partial queue and then the full
    // one, removed from its queue so it can be formatted for another size. Null when none.
    PoolChunk* RemoveWhollyFree();

private:
    friend struct PoolIntrospection;

    const size_t blockSize;
    SlimMutex partialMutex;
    IntrusiveQueue<PoolChunk> partial;
    SlimMutex fullMutex;
    IntrusiveQueue<PoolChunk> full;
};

}  // namespace tarn
