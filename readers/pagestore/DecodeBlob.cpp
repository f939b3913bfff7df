#include "readers/pagestore/DecodeBlob.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/Errors.h"
#include "readers/pagestore/LittleEndian.h"

namespace pagestore {

namespace {

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using HeapBlock = std::unique_ptr<uint8_t, FreeDeleter>;

// malloc(0) may answer null; a zero-byte result is still a block.
HeapBlock Allocate(uint64_t bytes) { return HeapBlock(static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1))); }

constexpr uint64_t kZstdHeaderBytes = 9;  // coding byte and the 8-byte decoded size

bool DecodeContent(BlobReader& reader, ZstdContextPool& pool, uint8_t& coding, uint64_t& decodedSize,
                   uint8_t*& buffer, uint64_t& bufferSize) {
    uint64_t blobSize = reader.BlobSize();
    if (blobSize == 0) throw tarn::HZDError("Empty blob");
    if (blobSize > kMaxBlobBytes) throw tarn::HZDError("Blob too large");
    reader.Read(&coding, 1);

    if (coding == kCodingStored) {
        decodedSize = blobSize - 1;
        HeapBlock block = Allocate(decodedSize);
        if (!block) return false;
        reader.Read(block.get(), static_cast<int>(decodedSize));
        bufferSize = decodedSize;
        buffer = block.release();
        return true;
    }
    if (coding != kCodingZstd) return false;

    if (blobSize < kZstdHeaderBytes) throw tarn::HZDError("Truncated zstd blob");
    uint8_t sizeBytes[8];
    reader.Read(sizeBytes, 8);
    decodedSize = LoadU64(sizeBytes);
    if (decodedSize > kMaxBlobBytes) throw tarn::HZDError("Blob too large");

    uint64_t compressedSize = blobSize - kZstdHeaderBytes;
    HeapBlock compressed = Allocate(compressedSize);
    if (!compressed) return false;
    reader.Read(compressed.get(), static_cast<int>(compressedSize));

    // Never allocate more than the frames can produce, whatever the declared size says.
    unsigned long long bound = ZSTD_decompressBound(compressed.get(), compressedSize);
    if (bound == ZSTD_CONTENTSIZE_ERROR) return false;  // not zstd frames: decoding would fail
    uint64_t capacity = std::min<uint64_t>(decodedSize, bound);
    HeapBlock output = Allocate(capacity);
    if (!output) return false;
    size_t produced = 0;
    bool ok = pool.Decompress(compressed.get(), compressedSize, output.get(), capacity, produced);
    compressed.reset();
    if (!ok) return false;
    std::memset(output.get() + produced, 0, capacity - produced);
    bufferSize = capacity;
    buffer = output.release();
    return true;
}

}  // namespace

bool DecodeBlob(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, uint8_t& coding,
                uint64_t& decodedSize, uint8_t*& buffer, uint64_t& bufferSize) {
    buffer = nullptr;
    bufferSize = 0;
    try {
        BlobReader reader(store, blobId);
        return DecodeContent(reader, pool, coding, decodedSize, buffer, bufferSize);
    } catch (const tarn::HZDError& e) {
        std::ostringstream where;
        store.Describe(blobId, where);
        throw tarn::HZDError(e.what() + where.str());
    }
}

}  // namespace pagestore
