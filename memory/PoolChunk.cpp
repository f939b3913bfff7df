#include "memory/PoolChunk.h"

namespace tarn {

void PoolChunk::Format(size_t size) {
    blockSize = size;
    remoteFree.store(nullptr, std::memory_order_relaxed);
    auto* base = reinterpret_cast<char*>(this);
    FreeLink* head = nullptr;
    // Link from the top down so the list ends up in ascending address order.
    for (size_t offset = kChunkSize - size; offset >= size; offset -= size) {
        auto* b = reinterpret_cast<FreeLink*>(base + offset);
        b->next = head;
        head = b;
    }
    localFree = head;
}

size_t PoolChunk::CountFree() const {
    size_t n = 0;
    for (FreeLink* b = localFree; b; b = b->next) ++n;
    for (FreeLink* b = remoteFree.load(std::memory_order_acquire); b; b = b->next) ++n;
    return n;
}

}  // namespace tarn
