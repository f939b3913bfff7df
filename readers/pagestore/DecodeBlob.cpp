#include "readers/pagestore/DecodeBlob.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace pagestore {

bool DecodeBlob(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, uint8_t& coding,
                uint64_t& decodedSize, uint8_t*& buffer, uint64_t& bufferSize) {
    buffer = nullptr;
    bufferSize = 0;
    CodedBlobDecoder decoder(store, pool, blobId);
    coding = decoder.Coding();
    decodedSize = decoder.DeclaredSize();
    if (!decoder.Prepare()) return false;

    const uint64_t capacity = decoder.OutputBound();
    // malloc(0) may answer null; a zero-byte result is still a block.
    std::unique_ptr<uint8_t, void (*)(void*)> block(static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1)),
                                                    &std::free);
    if (!block) return false;
    uint64_t produced = 0;
    if (!decoder.DecodeInto(block.get(), capacity, produced)) return false;
    decoder.Close();
    std::memset(block.get() + produced, 0, capacity - produced);
    bufferSize = capacity;
    buffer = block.release();
    return true;
}

}  // namespace pagestore
