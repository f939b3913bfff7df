// Sequential reading of one blob, holding at most one data page at a time.
#pragma once

#include <cstdint>
#include <optional>

#include "readers/pagestore/BlobIndex.h"
#include "readers/pagestore/ReadablePageStore.h"

namespace pagestore {

class BlobReader {
public:
    // Reads the blob's head page and builds its index. Throws what the store throws and
    // tarn::HZDError for a malformed head (an inline size above 65527 bytes included); nothing
    // stays held on failure.
    BlobReader(ReadablePageStore& store, int64_t blobId);
    ~BlobReader() { Close(); }
    BlobReader(const BlobReader&) = delete;
    BlobReader& operator=(const BlobReader&) = delete;

    // Copies up to n bytes from the current position, advances it, and returns the count
    // (0 at the end of the blob or for n <= 0).
    int64_t Read(uint8_t* dst, int n);
    // Up to `max` bytes from the current position that lie in one page, without a copy: `data`
    // points into the head or the cached data page and stays valid until the next read.
    // Advances the position; 0 at the end of the blob.
    uint64_t Next(const uint8_t*& data, uint64_t max);
    uint64_t BlobSize() const { return blobSize_; }
    uint64_t Position() const { return position_; }
    bool IsInline() const { return inline_; }
    // Gives every page back: the cached data page, the index pages, the head page.
    void Close() noexcept;

private:
    // The bytes at the position, up to the end of their page (and of the blob).
    const uint8_t* Locate(uint64_t& available);

    ReadablePageStore& store_;
    int64_t blobId_;
    uint8_t* head_ = nullptr;
    bool inline_ = false;
    uint64_t blobSize_ = 0;
    uint64_t position_ = 0;
    std::optional<BlobIndex> index_;
    int64_t cachedVidx_ = -1;
    uint8_t* cached_ = nullptr;
};

}  // namespace pagestore
