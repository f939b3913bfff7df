// One thread's source of blocks of one pooled size: its current chunk. Each thread has three,
// one per pooled size, made at its first pooled allocation and handed back when it ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memory/PoolChunk.h"

namespace tarn {

class RegionDirectory;

// Who touches what: every field belongs to the thread whose caches these are, and is touched
// without locks or atomics by that thread alone, or by the thread-exit callback running for
// it. The current chunk's owner is that thread, which alone uses the chunk's local list.
class ThreadBlockCache {
public:
    // Pool bytes a thread may take or give back before they are added to the process-wide
    // statistics; counting each block there would cost two locked additions per call.
    static constexpr int64_t kUncountedLimit = 4 * 1024 * 1024;

    // Fast path: pop the head of the current chunk's local list. Throws std::runtime_error
    // when a new region is needed and cannot be made; null when memory is otherwise exhausted.
    static void* TakeBlock(unsigned sizeClass);
    // Back onto the local list when the block's chunk is the calling thread's current chunk of
    // that size, else onto the chunk's remote list.
    static void ReturnBlock(void* block, unsigned sizeClass);
    // Adds the calling thread's not yet counted pool bytes to the process-wide statistics.
    static void CountCallingThread();

    // One thread's three caches and its not yet counted bytes (defined in the source).
    struct ThreadPools;

private:
    friend struct PoolIntrospection;
    struct ThreadExit;

    static ThreadPools* SetUpThread();
    static ThreadBlockCache* CallingThreadCaches();
    void* Refill();
    // Hands the current chunk back to its region's pools; nothing when there is none.
    void Release();

    size_t blockSize = 0;
    PoolChunk* current = nullptr;
    RegionDirectory* directory = nullptr;
};

}  // namespace tarn
