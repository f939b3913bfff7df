#include "memory/PoolChunk.h"

#include <new>


namespace tarn {

PoolChunk* PoolChunk::InitializeAt(void* chunkAddress) { return new (chunkAddress) PoolChunk(); }

void PoolChunk::Format(size_t size) {
    blockSize = size;
    remoteFree.store(nullptr, std::memory_order_relaxed);
    // Linked from the top down so that the list runs in ascending address order.
    char* const base = reinterpret_cast<char*>(this);
    FreeLink* head = nullptr;
    for (size_t offset = kChunkSize - size; offset >= size; offset -= size) {
        auto* block = reinterpret_cast<FreeLink*>(base + offset);
        block->next = head;
        head = block;
    }
    localFree = head;
}

bool PoolChunk::AdoptRemote() {
    FreeLink* taken = remoteFree.exchange(nullptr, std::memory_order_acquire);
    if (!taken) return false;
    // The owner only adopts once its local list is empty, so nothing is lost by replacing it.
    localFree = taken;
    return true;
}

void PoolChunk::PushRemote(void* block) {
    auto* node = static_cast<FreeLink*>(block);
    FreeLink* head = remoteFree.load(std::memory_order_relaxed);
    do {
        node->next = head;
    } while (!remoteFree.compare_exchange_weak(head, node, std::memory_order_release, std::memory_order_relaxed));
}

size_t PoolChunk::CountList(const FreeLink* head, size_t limit) {
    // Bounded: a list corrupted by a double free must not make this walk forever.
    size_t count = 0;
    for (const FreeLink* block = head; block && count < limit; block = block->next) ++count;
    return count;
}

bool PoolChunk::AllBlocksFree() const {
    if (blockSize == 0) return false;
    const size_t capacity = BlocksPerChunk(blockSize);
    const size_t local = CountList(localFree, capacity + 1);
    const size_t remote = CountList(remoteFree.load(std::memory_order_acquire), capacity + 1);
    return local + remote == capacity;
}

}  // namespace tarn
