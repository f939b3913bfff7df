#include "memory/SizePool.h"

#include <vector>

namespace tarn {

PoolChunk* SizePool::TakePartial() {
    std::lock_guard<std::mutex> lock(partialMutex);
    if (partial.empty()) return nullptr;
    PoolChunk* c = partial.front();
    partial.pop_front();
    return c;
}

PoolChunk* SizePool::TakeRecoveredFull() {
    std::lock_guard<std::mutex> lock(fullMutex);
    if (full.empty()) return nullptr;
    std::vector<PoolChunk*> found;
    std::deque<PoolChunk*> keep;
    for (PoolChunk* c : full) {
        if (c->HasFreeBlock())
            found.push_back(c);
        else
            keep.push_back(c);
    }
    full.swap(keep);
    if (found.empty()) return nullptr;
    PoolChunk* last = found.back();
    found.pop_back();
    if (!found.empty()) {
        std::lock_guard<std::mutex> inner(partialMutex);
        partial.insert(partial.end(), found.begin(), found.end());
    }
    return last;
}

namespace {
PoolChunk* TakeWhollyFreeFrom(std::deque<PoolChunk*>& queue, size_t blockSize) {
    const size_t all = PoolChunk::BlocksPerChunk(blockSize);
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        PoolChunk* c = *it;
        if (c->owner.load(std::memory_order_acquire) == 0 && c->CountFree() == all) {
            queue.erase(it);
            return c;
        }
    }
    return nullptr;
}
}  // namespace

PoolChunk* SizePool::TakeWhollyFree() {
    {
        std::lock_guard<std::mutex> lock(partialMutex);
        if (PoolChunk* c = TakeWhollyFreeFrom(partial, blockSize)) return c;
    }
    std::lock_guard<std::mutex> lock(fullMutex);
    return full.empty() ? nullptr : TakeWhollyFreeFrom(full, blockSize);
}

}  // namespace tarn
