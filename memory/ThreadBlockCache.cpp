#include "memory/ThreadBlockCache.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

#include "memory/PoolRegion.h"
#include "memory/RegionDirectory.h"
#include "platform/Platform.h"

namespace tarn {

// The three caches of one thread. Heap-allocated so the exit callback does not depend on the
// thread's TLS block still being alive.
struct ThreadCaches {
    ThreadBlockCache small{ThreadBlockCache::kSmall};
    ThreadBlockCache medium{ThreadBlockCache::kMedium};
    ThreadBlockCache large{ThreadBlockCache::kLarge};
};

namespace {

thread_local ThreadCaches* threadCaches = nullptr;

void ReleaseThreadCaches(void* value) {
    auto* caches = static_cast<ThreadCaches*>(value);
    caches->small.ReleaseChunk();
    caches->medium.ReleaseChunk();
    caches->large.ReleaseChunk();
    threadCaches = nullptr;
    delete caches;
}

// Allocated during static initialisation so that thread exit always finds the slot.
const DWORD exitSlot = FlsAlloc(&ReleaseThreadCaches);

ThreadCaches& SetUpThreadCaches() {
    auto* caches = new ThreadCaches();
    if (exitSlot == FLS_OUT_OF_INDEXES || !FlsSetValue(exitSlot, caches)) {
        delete caches;
        throw std::runtime_error("FlsSetValue failed");
    }
    threadCaches = caches;
    return *caches;
}

}  // namespace

ThreadBlockCache& ThreadBlockCache::ForSize(size_t blockSize) {
    ThreadCaches* caches = threadCaches;
    if (!caches) caches = &SetUpThreadCaches();
    return blockSize == kSmall ? caches->small : blockSize == kMedium ? caches->medium : caches->large;
}

void* ThreadBlockCache::TakeSlow() {
    if (current_ && current_->TakeRemote()) return current_->PopLocal();
    ReleaseChunk();
    PoolChunk* chunk = RegionDirectory::Instance().GetChunk(blockSize_);
    chunk->owner.store(GetCurrentThreadId(), std::memory_order_release);
    current_ = chunk;
    if (chunk->localFree || chunk->TakeRemote()) return chunk->PopLocal();
    return nullptr;
}

void ThreadBlockCache::ReleaseChunk() {
    if (!current_) return;
    PoolChunk* chunk = current_;
    current_ = nullptr;
    PoolRegion::Of(chunk)->ReleaseChunk(chunk);
}

void ReturnBlock(void* block) {
    PoolChunk* chunk = PoolChunk::Of(block);
    if (chunk->owner.load(std::memory_order_acquire) == GetCurrentThreadId())
        chunk->PushLocal(block);
    else
        chunk->PushRemote(block);
}

}  // namespace tarn
