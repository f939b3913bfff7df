#include "memory/SizePool.h"

namespace tarn {

void SizePool::AddReleased(PoolChunk* chunk) {
    if (chunk->HasFreeBlock()) {
        std::lock_guard<SlimMutex> lock(partialMutex);
        partial.PushBack(chunk);
    } else {
        std::lock_guard<SlimMutex> lock(fullMutex);
        full.PushBack(chunk);
    }
}

PoolChunk* SizePool::TakePartial() {
    std::lock_guard<SlimMutex> lock(partialMutex);
    return partial.PopFront();
}

PoolChunk* SizePool::TakeRefilledFromFull() {
    std::lock_guard<SlimMutex> fullLock(fullMutex);
    IntrusiveQueue<PoolChunk> stillFull;
    IntrusiveQueue<PoolChunk> earlierFound;
    PoolChunk* lastFound = nullptr;
    while (PoolChunk* chunk = full.PopFront()) {
        if (!chunk->HasFreeBlock()) {
            stillFull.PushBack(chunk);
            continue;
        }
        if (lastFound) earlierFound.PushBack(lastFound);
        lastFound = chunk;
    }
    full.Append(stillFull);
    if (!earlierFound.Empty()) {
        std::lock_guard<SlimMutex> partialLock(partialMutex);
        partial.Append(earlierFound);
    }
    return lastFound;
}

PoolChunk* SizePool::RemoveWhollyFree() {
    auto whollyFree = [](PoolChunk* chunk) { return chunk->Owner() == 0 && chunk->AllBlocksFree(); };
    {
        std::lock_guard<SlimMutex> lock(partialMutex);
        if (PoolChunk* chunk = partial.RemoveFirst(whollyFree)) return chunk;
    }
    std::lock_guard<SlimMutex> lock(fullMutex);
    return full.RemoveFirst(whollyFree);
}

}  // namespace tarn
