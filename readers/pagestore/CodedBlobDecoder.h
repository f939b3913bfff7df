// Decoding one coded blob in steps, so that the caller chooses where the decoded bytes go:
// DecodeBlob gives them a heap block of their own; the band source can have them land
// straight in the sink.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

constexpr uint8_t kCodingStored = 0xFF;
constexpr uint8_t kCodingZstd = 3;
// Counts handed to BlobReader::Read and to zstd are 32-bit: larger sizes are refused.
constexpr uint64_t kMaxBlobBytes = 0x7FFFFFFF;

// Every tarn::HZDError leaving this class carries the store's Describe(blobId) text after its
// own message; store failures pass through unchanged. Pages are held from construction to
// destruction (or Close).
class CodedBlobDecoder {
public:
    // Opens the blob and reads its coding and, for zstd, the declared decoded size. Raises
    // tarn::HZDError for a blob that is empty, 2 GiB or larger, declares 2 GiB or more, or is
    // too short for its zstd header.
    CodedBlobDecoder(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId);
    CodedBlobDecoder(const CodedBlobDecoder&) = delete;
    CodedBlobDecoder& operator=(const CodedBlobDecoder&) = delete;

    uint8_t Coding() const { return coding_; }
    // Stored: the content size. Zstd: the size written in front of the frame.
    uint64_t DeclaredSize() const { return declaredSize_; }

    // Reads what decoding needs. False when decoding cannot succeed: a coding other than 0xFF
    // and 3, no memory for the compressed bytes, bytes that are not zstd frames, or a block
    // larger than its frame allows.
    bool Prepare();
    // After Prepare: the most bytes decoding can produce. Zstd: the declared size, capped at
    // what the frames can produce, so a false declaration never makes anyone allocate more.
    uint64_t OutputBound() const { return outputBound_; }
    // Decodes into `dst`, which holds `capacity` bytes (for zstd exactly OutputBound() keeps
    // the outcome independent of the destination). Stored content is cut at `capacity`.
    // False on a zstd error (or a missing context); `produced` tells how much was written.
    bool DecodeInto(uint8_t* dst, uint64_t capacity, uint64_t& produced);

    // The content after the coding header, read in order without Prepare (streaming decoders).
    // Next: up to `max` bytes lying in one page, not copied, valid until the next read; 0 at
    // the end. Read: up to `n` bytes copied to `dst`.
    uint64_t Next(const uint8_t*& data, uint64_t max);
    uint64_t Read(uint8_t* dst, uint64_t n);
    // Reads the rest without copying it: a page that cannot be read fails the blob here, as it
    // fails reading the blob whole.
    void ReadToEnd();

    void Close() noexcept { reader_.reset(); }

private:
    [[noreturn]] void RethrowDescribed(const std::exception& error) const;

    struct FreeDeleter {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    ReadablePageStore& store_;
    ZstdContextPool& pool_;
    int64_t blobId_;
    std::unique_ptr<BlobReader> reader_;
    uint8_t coding_ = 0;
    uint64_t declaredSize_ = 0;
    uint64_t outputBound_ = 0;
    std::unique_ptr<uint8_t, FreeDeleter> compressed_;
    uint64_t compressedSize_ = 0;
};

}  // namespace pagestore
