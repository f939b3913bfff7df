// A thread's current chunk for one pooled block size.
#pragma once

#include <cstddef>

#include "memory/PoolChunk.h"

namespace tarn {

// Touched only by its own thread (and by that thread's exit callback).
class ThreadBlockCache {
public:
    static constexpr size_t kSmall = 0x4000;
    static constexpr size_t kMedium = 0x10000;
    static constexpr size_t kLarge = 0x20000;

    explicit ThreadBlockCache(size_t blockSize) : blockSize_(blockSize) {}

    // The calling thread's cache for a pooled size (set up at the thread's first use).
    static ThreadBlockCache& ForSize(size_t blockSize);

    void* Take() {
        // Fast path: pop the head of the owner's local list.
        if (current_ && current_->localFree) return current_->PopLocal();
        return TakeSlow();
    }
    // Gives the current chunk back to its region's queues.
    void ReleaseChunk();

    size_t BlockSize() const { return blockSize_; }
    PoolChunk* CurrentChunk() const { return current_; }

private:
    void* TakeSlow();

    const size_t blockSize_;
    PoolChunk* current_ = nullptr;
};

// Returns a pooled block to its chunk: locally when the caller owns the chunk, else through
// the chunk's lock-free remote list.
void ReturnBlock(void* block);

}  // namespace tarn
