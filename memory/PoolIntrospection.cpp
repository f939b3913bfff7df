#include "memory/PoolIntrospection.h"

#include <cstdint>
#include <mutex>

#include "memory/ImageMemory.h"
#include "memory/ThreadBlockCache.h"

namespace tarn {

namespace {

template <class Node>
std::vector<Node*> Nodes(const IntrusiveQueue<Node>& queue) {
    std::vector<Node*> nodes;
    queue.ForEach([&](Node* node) { nodes.push_back(node); });
    return nodes;
}

}  // namespace

PoolChunk* PoolIntrospection::CurrentChunk(size_t blockSize) {
    ThreadBlockCache* caches = ThreadBlockCache::CallingThreadCaches();
    return caches ? caches[PooledSizeClass(blockSize)].current : nullptr;
}

void PoolIntrospection::UseDirectoryOnThisThread(RegionDirectory& directory) {
    ThreadBlockCache* caches = ThreadBlockCache::CallingThreadCaches();
    if (!caches) {
        // Sets the caches up through the ordinary path.
        FreeBlock(AllocateBlock(kPooledBlockSizes[0]), kPooledBlockSizes[0]);
        caches = ThreadBlockCache::CallingThreadCaches();
    }
    for (unsigned i = 0; i < kPooledSizeCount; ++i) {
        caches[i].Release();
        caches[i].directory = &directory;
    }
}

size_t PoolIntrospection::LocalFreeCount(const PoolChunk* chunk) {
    return PoolChunk::CountList(chunk->localFree, kChunkSize);
}

size_t PoolIntrospection::RemoteFreeCount(const PoolChunk* chunk) {
    return PoolChunk::CountList(chunk->remoteFree.load(std::memory_order_acquire), kChunkSize);
}

std::vector<PoolChunk*> PoolIntrospection::EmptyChunks(PoolRegion* region) {
    std::lock_guard<SlimMutex> lock(region->emptyMutex);
    return Nodes(region->emptyChunks);
}

std::vector<PoolChunk*> PoolIntrospection::PartialChunks(PoolRegion* region, size_t blockSize) {
    SizePool& pool = region->PoolFor(blockSize);
    std::lock_guard<SlimMutex> lock(pool.partialMutex);
    return Nodes(pool.partial);
}

std::vector<PoolChunk*> PoolIntrospection::FullChunks(PoolRegion* region, size_t blockSize) {
    SizePool& pool = region->PoolFor(blockSize);
    std::lock_guard<SlimMutex> lock(pool.fullMutex);
    return Nodes(pool.full);
}

bool PoolIntrospection::Contains(RegionDirectory& directory, const void* address) {
    const auto a = reinterpret_cast<uintptr_t>(address);
    std::lock_guard<SlimMutex> lock(directory.mutex);
    for (const auto& record : directory.records) {
        const auto base = reinterpret_cast<uintptr_t>(record.base);
        if (a >= base && a - base < kRegionSize) return true;
    }
    return false;
}

size_t PoolIntrospection::RegionCount(RegionDirectory& directory) {
    std::lock_guard<SlimMutex> lock(directory.mutex);
    return directory.records.size();
}

std::vector<PoolRegion*> PoolIntrospection::AvailableRegions(RegionDirectory& directory) {
    std::lock_guard<SlimMutex> lock(directory.mutex);
    return Nodes(directory.available);
}

std::vector<PoolRegion*> PoolIntrospection::ExhaustedRegions(RegionDirectory& directory) {
    std::lock_guard<SlimMutex> lock(directory.mutex);
    return Nodes(directory.exhausted);
}

size_t PoolIntrospection::SkipCounter(RegionDirectory& directory) {
    std::lock_guard<SlimMutex> lock(directory.mutex);
    return directory.skipCounter;
}

size_t PoolIntrospection::ThreadRecordCount() { return ThreadBlockCache::ThreadRecordCount(); }

bool PoolIntrospection::HasThreadExitSlot() { return ThreadBlockCache::HasThreadExitSlot(); }

}  // namespace tarn
