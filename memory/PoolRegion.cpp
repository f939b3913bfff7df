#include "memory/PoolRegion.h"

#include <cstring>
#include <new>

namespace tarn {

PoolRegion* PoolRegion::Create(void* base) { return new (static_cast<char*>(base) + sizeof(PoolChunk)) PoolRegion(static_cast<char*>(base)); }

PoolRegion::PoolRegion(char* base) {
    for (size_t i = 0; i < kChunksPerRegion; ++i) {
        auto* chunk = reinterpret_cast<PoolChunk*>(base + i * kChunkSize);
        // Chunk 0's header shares block 0 with this object, so it is written field by field.
        chunk->owner.store(0, std::memory_order_relaxed);
        chunk->localFree = nullptr;
        chunk->remoteFree.store(nullptr, std::memory_order_relaxed);
        chunk->blockSize = 0;
        empty.push_back(chunk);
    }
}

SizePool& PoolRegion::PoolFor(size_t blockSize) {
    std::lock_guard<std::mutex> lock(mapMutex);
    SizePool*& pool = pools[blockSize];
    if (!pool) pool = new SizePool(blockSize);
    return *pool;
}

PoolChunk* PoolRegion::TakeChunk(size_t blockSize) {
    {
        std::lock_guard<std::mutex> lock(emptyMutex);
        if (!empty.empty()) {
            PoolChunk* c = empty.front();
            empty.pop_front();
            c->Format(blockSize);
            return c;
        }
    }
    SizePool& pool = PoolFor(blockSize);
    if (PoolChunk* c = pool.TakePartial()) return c;
    if (PoolChunk* c = pool.TakeRecoveredFull()) return c;
    return StealWhollyFree(blockSize);
}

PoolChunk* PoolRegion::StealWhollyFree(size_t blockSize) {
    std::lock_guard<std::mutex> lock(mapMutex);
    for (auto& [size, pool] : pools) {
        if (size == blockSize) continue;
        if (PoolChunk* c = pool->TakeWhollyFree()) {
            c->Format(blockSize);
            return c;
        }
    }
    return nullptr;
}

void PoolRegion::ReleaseChunk(PoolChunk* chunk) {
    chunk->owner.store(0, std::memory_order_release);
    SizePool& pool = PoolFor(chunk->blockSize);
    if (chunk->HasFreeBlock())
        pool.AppendPartial(chunk);
    else
        pool.AppendFull(chunk);
}

size_t PoolRegion::EmptyChunkCount() {
    std::lock_guard<std::mutex> lock(emptyMutex);
    return empty.size();
}

size_t PoolRegion::QueuedChunkCount(size_t blockSize) {
    SizePool& pool = PoolFor(blockSize);
    std::lock_guard<std::mutex> a(pool.fullMutex);
    std::lock_guard<std::mutex> b(pool.partialMutex);
    return pool.partial.size() + pool.full.size();
}

}  // namespace tarn
