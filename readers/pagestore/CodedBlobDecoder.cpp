#include "readers/pagestore/CodedBlobDecoder.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/LittleEndian.h"
#include "readers/pagestore/ZstdFrameBound.h"

namespace pagestore {

namespace {
constexpr uint64_t kZstdHeaderBytes = 9;  // coding byte and the 8-byte decoded size
}

CodedBlobDecoder::CodedBlobDecoder(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId)
    : store_(store), pool_(pool), blobId_(blobId) {
    try {
        reader_ = std::make_unique<BlobReader>(store_, blobId_);
        uint64_t blobSize = reader_->BlobSize();
        if (blobSize == 0) throw tarn::HZDError("Empty blob");
        if (blobSize > kMaxBlobBytes) throw tarn::HZDError("Blob too large");
        reader_->Read(&coding_, 1);
        if (coding_ == kCodingStored) {
            declaredSize_ = blobSize - 1;
        } else if (coding_ == kCodingZstd) {
            if (blobSize < kZstdHeaderBytes) throw tarn::HZDError("Truncated zstd blob");
            uint8_t size[8];
            reader_->Read(size, 8);
            declaredSize_ = LoadU64(size);
            if (declaredSize_ > kMaxBlobBytes) throw tarn::HZDError("Blob too large");
            compressedSize_ = blobSize - kZstdHeaderBytes;
        }
    } catch (const tarn::HZDError& e) {
        RethrowDescribed(e);
    }
}

void CodedBlobDecoder::RethrowDescribed(const std::exception& error) const {
    std::ostringstream where;
    store_.Describe(blobId_, where);
    throw tarn::HZDError(error.what() + where.str());
}

bool CodedBlobDecoder::Prepare() {
    if (coding_ == kCodingStored) {
        outputBound_ = declaredSize_;
        return true;
    }
    if (coding_ != kCodingZstd) return false;
    compressed_.reset(static_cast<uint8_t*>(std::malloc(compressedSize_ ? compressedSize_ : 1)));
    if (!compressed_) return false;
    try {
        reader_->Read(compressed_.get(), static_cast<int>(compressedSize_));
    } catch (const tarn::HZDError& e) {
        RethrowDescribed(e);
    }
    unsigned long long frames = ZSTD_decompressBound(compressed_.get(), compressedSize_);
    if (frames == ZSTD_CONTENTSIZE_ERROR) return false;  // zstd would refuse these bytes too
    ZstdFrameWalker blocks;
    blocks.Feed(compressed_.get(), compressedSize_);
    if (blocks.OversizedBlock()) return false;  // a zstd error, whatever this zstd would do
    // Frame headers may claim more than their blocks hold; allocation follows the blocks.
    outputBound_ = std::min<uint64_t>({declaredSize_, frames, blocks.OutputLimit()});
    return true;
}

uint64_t CodedBlobDecoder::Next(const uint8_t*& data, uint64_t max) {
    try {
        return reader_ ? reader_->Next(data, max) : 0;
    } catch (const tarn::HZDError& e) {
        RethrowDescribed(e);
    }
}

uint64_t CodedBlobDecoder::Read(uint8_t* dst, uint64_t n) {
    uint64_t copied = 0;
    const uint8_t* data;
    while (uint64_t chunk = Next(data, n - copied)) {
        std::memcpy(dst + copied, data, chunk);
        copied += chunk;
    }
    return copied;
}

bool CodedBlobDecoder::DecodeInto(uint8_t* dst, uint64_t capacity, uint64_t& produced) {
    produced = 0;
    if (coding_ == kCodingStored) {
        uint64_t n = std::min(capacity, declaredSize_);
        try {
            reader_->Read(dst, static_cast<int>(n));
        } catch (const tarn::HZDError& e) {
            RethrowDescribed(e);
        }
        produced = n;
        return true;
    }
    if (coding_ != kCodingZstd || !compressed_) return false;
    size_t written = 0;
    bool ok = pool_.Decompress(compressed_.get(), compressedSize_, dst, capacity, written);
    compressed_.reset();
    produced = written;
    return ok;
}

void CodedBlobDecoder::ReadToEnd() {
    const uint8_t* data;
    while (Next(data, UINT64_MAX) != 0) {
    }
}

}  // namespace pagestore
