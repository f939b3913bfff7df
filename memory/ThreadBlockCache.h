// One thread's source of blocks of one pooled size: its current chunk. Each thread has three,
// one per pooled size, made at its first pooled allocation and handed back when it ends.
#pragma once

#include <atomic>
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
    // Fast path: pop the head of the current chunk's local list. Throws std::runtime_error
    // when a new region is needed and cannot be made; null when memory is otherwise exhausted.
    static void* TakeBlock(unsigned sizeClass);
    // Back onto the local list when the block's chunk is the calling thread's current chunk of
    // that size, else onto the chunk's remote list.
    static void ReturnBlock(void* block, unsigned sizeClass);

    // Live pool bytes plus `booked`, read as one consistent snapshot: the value every counter
    // held at one moment, so it is never below zero and never misses a block another thread
    // holds. Takes the lock that thread start and end take; the pool paths take none.
    static int64_t LiveBytesWith(const std::atomic<int64_t>& booked);

    // Module unload: when no pool block is live, frees every thread's record and the
    // thread-exit slot, then every region and the directory, and returns true; otherwise
    // changes nothing. No thread may use the pools during the call, nor afterwards through the
    // records it had (an unloaded module takes their thread-local pointers with it).
    static bool ReleaseAllOnUnload();

    // One thread's three caches and its counts (defined in the source).
    struct ThreadPools;

private:
    friend struct PoolIntrospection;
    struct ThreadExit;

    static size_t ThreadRecordCount();
    static bool HasThreadExitSlot();
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
