// How many bytes zstd frames can really produce, read from their block headers rather than
// taken from what a frame header claims; and whether their blocks keep to their frames' size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagestore {

// Follows zstd frames through their frame and block headers as their bytes go by, in pieces
// of any size, without decoding them. Raw and RLE blocks count their stated size, a compressed
// block its frame's block size limit, a skippable frame nothing, and a frame's declared content
// size lowers its own count further.
class ZstdFrameWalker {
public:
    // The next bytes of the frames, in order.
    void Feed(const uint8_t* data, size_t size);

    // A block larger than its frame allows (min(window, 128 KiB)) was seen. The format forbids
    // it and zstd versions differ over such raw and RLE blocks (one-shot decoding may take
    // them, streaming may not), so they count as a zstd error wherever they are met.
    bool OversizedBlock() const { return oversized_; }

    // The most the bytes fed so far can produce; UINT64_MAX unless they are a sequence of
    // whole frames (zstd then reports its own error, and no tighter bound is known).
    uint64_t OutputLimit() const;

private:
    enum class Stage { FrameHeader, BlockHeader, Payload, Checksum, Skippable, Lost };

    void FrameHeaderByte();
    void BlockHeaderComplete();
    // Leaves a payload, checksum or skippable frame once its last byte went by.
    void Settle();

    Stage stage_ = Stage::FrameHeader;
    uint8_t header_[18] = {};  // a frame header (ZSTD_FRAMEHEADERSIZE_MAX) or a block header, gathered
    size_t have_ = 0;
    uint64_t remaining_ = 0;  // bytes left of the payload, checksum or skippable frame
    bool lastBlock_ = false;
    bool checksum_ = false;
    uint64_t blockSizeMax_ = 0;
    uint64_t contentSize_ = 0;  // the frame's stated size, or UINT64_MAX
    uint64_t frameOutput_ = 0;  // the current frame's count so far
    uint64_t total_ = 0;        // whole frames' counts
    bool oversized_ = false;
};

// The most bytes that decoding [src, src + size) can produce (ZstdFrameWalker::OutputLimit).
// A frame header that claims gigabytes over a few empty blocks therefore bounds nothing beyond
// those blocks.
uint64_t ZstdOutputLimit(const uint8_t* src, size_t size);

}  // namespace pagestore
