// A 2 MiB, 2 MiB-aligned piece of a pool region serving blocks of one size.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarn {

constexpr size_t kChunkSize = 0x200000;
constexpr size_t kRegionSize = 0x1000000;
constexpr size_t kChunksPerRegion = kRegionSize / kChunkSize;

// A free block's first 8 bytes link it to the next free block.
struct FreeLink {
    FreeLink* next;
};

// The header lives in block 0 of the chunk, which is never handed out.
//
// Access rules:
//   owner      - written by the thread that takes or releases the chunk (under the pool locks
//                when it comes from or goes to a queue); read by any thread freeing a block.
//   localFree  - only the owning thread, or any thread holding the queue/region locks while the
//                chunk is unowned.
//   remoteFree - any thread: pushed with compare-and-swap, taken whole with an exchange by the
//                owner (or under the locks while unowned).
//   blockSize  - set when the chunk is formatted, which only happens while nobody owns it and
//                none of its blocks is allocated.
struct PoolChunk {
    std::atomic<uint32_t> owner;
    FreeLink* localFree;
    std::atomic<FreeLink*> remoteFree;
    uint64_t blockSize;

    static PoolChunk* Of(const void* block) {
        return reinterpret_cast<PoolChunk*>(reinterpret_cast<uintptr_t>(block) & ~(kChunkSize - 1));
    }
    static size_t BlocksPerChunk(size_t blockSize) { return kChunkSize / blockSize - 1; }

    // Links blocks S, 2S, ... into the local list in ascending order; clears the remote list.
    void Format(size_t size);

    void* PopLocal() {
        FreeLink* b = localFree;
        localFree = b->next;
        return b;
    }
    void PushLocal(void* block) {
        auto* b = static_cast<FreeLink*>(block);
        b->next = localFree;
        localFree = b;
    }
    void PushRemote(void* block) {
        auto* b = static_cast<FreeLink*>(block);
        FreeLink* head = remoteFree.load(std::memory_order_relaxed);
        do {
            b->next = head;
        } while (!remoteFree.compare_exchange_weak(head, b, std::memory_order_release, std::memory_order_relaxed));
    }
    // Moves the whole remote list to the (empty) local list; false when it was empty.
    bool TakeRemote() {
        if (!remoteFree.load(std::memory_order_relaxed)) return false;
        localFree = remoteFree.exchange(nullptr, std::memory_order_acquire);
        return localFree != nullptr;
    }
    bool HasFreeBlock() const { return localFree || remoteFree.load(std::memory_order_acquire); }
    // Length of both lists; only meaningful while no thread owns the chunk.
    size_t CountFree() const;
};

}  // namespace tarn
