#include "memory/PoolRegion.h"

#include <cstdint>
#include <new>

namespace tarn {

namespace {

constexpr size_t kRegionHeaderOffset = (sizeof(PoolChunk) + alignof(PoolRegion) - 1) & ~(alignof(PoolRegion) - 1);
static_assert(kRegionHeaderOffset + sizeof(PoolRegion) <= kPooledBlockSizes[0],
              "chunk and region headers must fit in block 0 of the smallest block size");

}  // namespace

PoolRegion* PoolRegion::InitializeAt(void* base) {
    char* const bytes = static_cast<char*>(base);
    PoolChunk* chunks[kChunksPerRegion];
    for (size_t i = 0; i < kChunksPerRegion; ++i) chunks[i] = PoolChunk::InitializeAt(bytes + i * kChunkSize);
    auto* region = new (bytes + kRegionHeaderOffset) PoolRegion();
    for (PoolChunk* chunk : chunks) region->emptyChunks.PushBack(chunk);
    return region;
}

PoolRegion* PoolRegion::Of(const void* address) {
    uintptr_t base = reinterpret_cast<uintptr_t>(address) & ~uintptr_t{kRegionSize - 1};
    return reinterpret_cast<PoolRegion*>(base + kRegionHeaderOffset);
}

PoolChunk* PoolRegion::TakeChunk(size_t blockSize) {
    if (PoolChunk* chunk = TakeEmpty(blockSize)) return chunk;
    SizePool& pool = PoolFor(blockSize);
    if (PoolChunk* chunk = pool.TakePartial()) return chunk;
    if (PoolChunk* chunk = pool.TakeRefilledFromFull()) return chunk;
    return StealWhollyFree(blockSize);
}

PoolChunk* PoolRegion::TakeEmpty(size_t blockSize) {
    std::lock_guard<SlimMutex> lock(emptyMutex);
    PoolChunk* chunk = emptyChunks.PopFront();
    if (chunk) chunk->Format(blockSize);
    return chunk;
}

PoolChunk* PoolRegion::StealWhollyFree(size_t blockSize) {
    std::lock_guard<SlimMutex> lock(mapMutex);
    for (SizePool& other : pools) {
        if (other.BlockSize() == blockSize) continue;
        if (PoolChunk* chunk = other.RemoveWhollyFree()) {
            chunk->Format(blockSize);
            return chunk;
        }
    }
    return nullptr;
}

void PoolRegion::HandBack(PoolChunk* chunk) {
    chunk->SetOwner(0);
    Of(chunk)->PoolFor(chunk->BlockSize()).AddReleased(chunk);
}

}  // namespace tarn
