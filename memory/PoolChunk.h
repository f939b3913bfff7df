// A 2 MiB chunk of a pool region, formatted for one block size at a time. Its header sits at
// the chunk's first byte, inside block 0, which is never handed out.
#pragma once

#include <atomic>
#include <cstdint>

#include "memory/PoolGeometry.h"
#include "platform/Platform.h"

namespace tarn {

class PoolRegion;

// A free block's first 8 bytes point to the next free block of the same list.
struct FreeLink {
    FreeLink* next;
};

// Who touches what:
// - `owner`: set to the taking thread's id right after the chunk leaves the pools, and to 0 by
//   that thread when it hands the chunk back. Atomic (relaxed) because anyone may read it; a
//   reader only ever compares it with 0.
// - `localFree`: the owner alone, without locks or atomics. While the chunk is unowned, only a
//   thread holding the mutex of the queue the chunk sits in (or the empty-queue mutex when it
//   is formatted) reads or rewrites it.
// - `remoteFree`: any thread pushes onto it with a compare-and-swap (release). Only the owner,
//   or while unowned a holder of the chunk's queue mutex, reads it whole or takes it whole by
//   exchanging it with null (acquire). Single nodes are never popped, so there is no ABA.
//   It has a cache line of its own so remote pushes do not slow the owner's pops.
// - `blockSize`: written only by Format, while no block of the chunk is out; read by whoever
//   owns the chunk or holds its queue mutex.
// - `queueNext`: the links of the queue the chunk sits in, under that queue's mutex.
class PoolChunk {
public:
    static PoolChunk* Of(const void* block) {
        return reinterpret_cast<PoolChunk*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t{kChunkSize - 1});
    }
    // Builds a zeroed header (no owner, no size, empty lists) at a 2 MiB boundary.
    static PoolChunk* InitializeAt(void* chunkAddress);

    // Records the size and links blocks S, 2S, ... up to 2 MiB - S into the local list in
    // ascending order. Only for a chunk with no block out and no owner.
    void Format(size_t size);

    // Owner only.
    void* PopLocal() {
        FreeLink* block = localFree;
        if (block) localFree = block->next;
        return block;
    }
    void PushLocal(void* block) {
        auto* node = static_cast<FreeLink*>(block);
        node->next = localFree;
        localFree = node;
    }
    // Moves every remotely freed block to the local list; false when there was none.
    bool AdoptRemote();

    // Any thread.
    void PushRemote(void* block);

    // Owner, or holder of the chunk's queue mutex.
    bool HasFreeBlock() const { return localFree || remoteFree.load(std::memory_order_acquire); }
    // True when every block of the chunk is on one of its two lists.
    bool AllBlocksFree() const;

    size_t BlockSize() const { return blockSize; }
    DWORD Owner() const { return owner.load(std::memory_order_relaxed); }
    void SetOwner(DWORD threadId) { owner.store(threadId, std::memory_order_relaxed); }

    PoolChunk* queueNext = nullptr;

private:
    friend struct PoolIntrospection;
    static size_t CountList(const FreeLink* head, size_t limit);

    std::atomic<DWORD> owner{0};
    FreeLink* localFree = nullptr;
    size_t blockSize = 0;
    alignas(64) std::atomic<FreeLink*> remoteFree{nullptr};
};

}  // namespace tarn
