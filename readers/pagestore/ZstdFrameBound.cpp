#include "readers/pagestore/ZstdFrameBound.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <limits>

namespace pagestore {

namespace {

constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();
constexpr size_t kBlockHeaderBytes = 3;
constexpr size_t kChecksumBytes = 4;
enum BlockType : uint32_t { kRawBlock = 0, kRleBlock = 1, kCompressedBlock = 2 };

// One frame's blocks from `pos`; false when they run past `size` or use the reserved type.
bool WalkBlocks(const uint8_t* src, size_t size, size_t& pos, uint64_t blockSizeMax, uint64_t& produced) {
    for (;;) {  // every block takes at least its 3-byte header, so the walk ends with the bytes
        if (size - pos < kBlockHeaderBytes) return false;
        const uint32_t header = uint32_t{src[pos]} | uint32_t{src[pos + 1]} << 8 | uint32_t{src[pos + 2]} << 16;
        pos += kBlockHeaderBytes;
        const uint32_t blockSize = header >> 3;
        size_t payload;
        switch ((header >> 1) & 3) {
            case kRawBlock: payload = blockSize, produced += blockSize; break;
            case kRleBlock: payload = 1, produced += blockSize; break;
            case kCompressedBlock: payload = blockSize, produced += blockSizeMax; break;
            default: return false;
        }
        if (size - pos < payload) return false;
        pos += payload;
        if (header & 1) return true;  // last block of the frame
    }
}

}  // namespace

uint64_t ZstdOutputLimit(const uint8_t* src, size_t size) {
    uint64_t total = 0;
    while (size > 0) {
        ZSTD_frameHeader frame;
        const size_t need = ZSTD_getFrameHeader(&frame, src, size);
        if (ZSTD_isError(need) || need > 0) return kUnknown;
        size_t pos;
        if (frame.frameType == ZSTD_skippableFrame) {
            pos = ZSTD_findFrameCompressedSize(src, size);
            if (ZSTD_isError(pos) || pos > size) return kUnknown;
        } else {
            pos = frame.headerSize;
            uint64_t produced = 0;
            if (pos > size || !WalkBlocks(src, size, pos, frame.blockSizeMax, produced)) return kUnknown;
            if (frame.checksumFlag) {
                if (size - pos < kChecksumBytes) return kUnknown;
                pos += kChecksumBytes;
            }
            if (frame.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN)
                produced = std::min<uint64_t>(produced, frame.frameContentSize);
            total += produced;  // at most 2^21 per 3 input bytes: no overflow for any real size
        }
        src += pos;
        size -= pos;
    }
    return total;
}

}  // namespace pagestore
