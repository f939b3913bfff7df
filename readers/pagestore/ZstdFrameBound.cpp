#include "readers/pagestore/ZstdFrameBound.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <limits>

namespace pagestore {

namespace {

constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();
constexpr size_t kBlockHeaderBytes = 3;
constexpr uint64_t kChecksumBytes = 4;
enum BlockType : uint32_t { kRawBlock = 0, kRleBlock = 1, kCompressedBlock = 2 };

static_assert(ZSTD_FRAMEHEADERSIZE_MAX <= 18, "header_ holds a whole frame header");

}  // namespace

void ZstdFrameWalker::Feed(const uint8_t* data, size_t size) {
    while (size > 0) {
        switch (stage_) {
            case Stage::Lost: return;
            case Stage::FrameHeader:
                header_[have_++] = *data++, --size;
                FrameHeaderByte();
                break;
            case Stage::BlockHeader:
                header_[have_++] = *data++, --size;
                if (have_ == kBlockHeaderBytes) BlockHeaderComplete();
                break;
            case Stage::Payload:
            case Stage::Checksum:
            case Stage::Skippable: {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(size, remaining_));
                data += n, size -= n, remaining_ -= n;
                Settle();
                break;
            }
        }
    }
}

// Headers are gathered a byte at a time: zstd says when one is complete.
void ZstdFrameWalker::FrameHeaderByte() {
    ZSTD_frameHeader frame;
    const size_t need = ZSTD_getFrameHeader(&frame, header_, have_);
    if (ZSTD_isError(need) || (need > 0 && have_ == sizeof header_)) {
        stage_ = Stage::Lost;
        return;
    }
    if (need > 0) return;
    have_ = 0;
    if (frame.frameType == ZSTD_skippableFrame) {
        stage_ = Stage::Skippable;
        remaining_ = frame.frameContentSize;  // the skippable frame's size
        Settle();
        return;
    }
    blockSizeMax_ = frame.blockSizeMax;
    checksum_ = frame.checksumFlag != 0;
    contentSize_ = frame.frameContentSize;
    frameOutput_ = 0;
    stage_ = Stage::BlockHeader;
}

void ZstdFrameWalker::BlockHeaderComplete() {
    const uint32_t header = uint32_t{header_[0]} | uint32_t{header_[1]} << 8 | uint32_t{header_[2]} << 16;
    have_ = 0;
    const uint32_t blockSize = header >> 3;
    lastBlock_ = (header & 1) != 0;
    if (blockSize > blockSizeMax_) oversized_ = true;
    switch ((header >> 1) & 3) {
        case kRawBlock: remaining_ = blockSize, frameOutput_ += blockSize; break;
        case kRleBlock: remaining_ = 1, frameOutput_ += blockSize; break;
        case kCompressedBlock: remaining_ = blockSize, frameOutput_ += blockSizeMax_; break;
        default: stage_ = Stage::Lost; return;  // the reserved type
    }
    stage_ = Stage::Payload;
    Settle();
}

void ZstdFrameWalker::Settle() {
    if (remaining_ > 0) return;
    if (stage_ == Stage::Payload && !lastBlock_) {
        stage_ = Stage::BlockHeader;
        return;
    }
    if (stage_ == Stage::Payload && checksum_) {
        stage_ = Stage::Checksum;
        remaining_ = kChecksumBytes;
        return;
    }
    // The frame is complete (a skippable one counts nothing). At most 2^21 per 3 input bytes:
    // no overflow for any real size.
    if (stage_ != Stage::Skippable) total_ += std::min(frameOutput_, contentSize_);
    stage_ = Stage::FrameHeader;
}

uint64_t ZstdFrameWalker::OutputLimit() const {
    return stage_ == Stage::FrameHeader && have_ == 0 ? total_ : kUnknown;
}

uint64_t ZstdOutputLimit(const uint8_t* src, size_t size) {
    ZstdFrameWalker frames;
    frames.Feed(src, size);
    return frames.OutputLimit();
}

}  // namespace pagestore
