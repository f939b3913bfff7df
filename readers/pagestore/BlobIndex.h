// Where the data pages of a blob are: the head page's table, then the chain of index pages.
#pragma once

#include <cstdint>
#include <vector>

#include "readers/pagestore/ReadablePageStore.h"

namespace pagestore {

// Blob head page fields.
constexpr uint8_t kInlineBlobKind = 1;
constexpr size_t kBlobSizeOffset = 1;
constexpr size_t kInlineDataOffset = 9;
constexpr uint64_t kInlineCapacity = 65527;  // 65536 - 9
constexpr size_t kNextVidxOffset = 9;
constexpr size_t kHeadSlotsOffset = 17;
constexpr uint64_t kHeadSlots = 8189;
// Index page fields.
constexpr size_t kIndexSlotsOffset = 8;
constexpr uint64_t kIndexSlots = 8191;

class BlobIndex {
public:
    // For a paged blob (`inlineBlob` false) of `blobSize` bytes whose head page is `head`:
    // checks the head's nextVidx and reads the whole index chain, keeping the index pages the
    // size needs. Throws tarn::HZDError for a malformed head, a chain that loops or is too short
    // for the size; pages already read are given back first.
    BlobIndex(ReadablePageStore& store, const uint8_t* head, bool inlineBlob, uint64_t blobSize);
    ~BlobIndex() { Release(); }
    BlobIndex(const BlobIndex&) = delete;
    BlobIndex& operator=(const BlobIndex&) = delete;

    // Virtual index of data page j (j below the blob's data page count).
    int64_t DataPageVidx(uint64_t j) const;
    size_t IndexPageCount() const { return indexPages_.size(); }
    // Gives the index pages back in chain order, each with its own virtual index.
    void Release() noexcept;

private:
    struct IndexPage {
        int64_t vidx;
        uint8_t* page;
    };
    void Build(uint64_t blobSize);

    ReadablePageStore& store_;
    const uint8_t* head_;
    std::vector<IndexPage> indexPages_;
};

}  // namespace pagestore
