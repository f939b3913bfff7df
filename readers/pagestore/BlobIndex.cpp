#include "readers/pagestore/BlobIndex.h"

#include <cstdio>
#include <string>
#include <unordered_set>

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/LittleEndian.h"
#include "readers/pagestore/SeekPageMapper.h"

namespace pagestore {

namespace {

std::string InvalidNextVidxMessage(int64_t v, const uint8_t* head) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
    std::string message = std::string("Invalid nextVidx: 0x") + text + "\nhead: ";
    for (int i = 0; i < 64; ++i) {
        std::snprintf(text, sizeof text, "%02x ", head[i]);
        message += text;
    }
    return message + "\n";
}

}  // namespace

BlobIndex::BlobIndex(ReadablePageStore& store, const uint8_t* head, bool inlineBlob, uint64_t blobSize)
    : store_(store), head_(head) {
    if (inlineBlob) return;
    try {
        Build(blobSize);
    } catch (...) {
        Release();
        throw;
    }
}

void BlobIndex::Build(uint64_t blobSize) {
    int64_t v = LoadI64(head_ + kNextVidxOffset);
    if (v != -1 && v <= 0) throw tarn::HZDError(InvalidNextVidxMessage(v, head_));

    // Data pages may be shared (one page named for several), so the size is not bounded by the
    // file; only the index pages it needs are kept.
    uint64_t dataPages = blobSize / kPageSize + (blobSize % kPageSize != 0);
    uint64_t needed = dataPages > kHeadSlots ? (dataPages - kHeadSlots + kIndexSlots - 1) / kIndexSlots : 0;

    // The whole chain is read, so an index page that cannot be read fails the blob. A chain
    // that comes back to an index page loops; otherwise it ends, since every page read is a
    // distinct page of the stream and a read past its end fails.
    std::unordered_set<int64_t> seen;
    while (v != -1) {
        if (!seen.insert(v).second) throw tarn::HZDError("Invalid index chain");
        // The slot first: once a page is read, nothing may throw before it is recorded.
        indexPages_.push_back({v, nullptr});
        uint8_t* page = indexPages_.back().page = store_.ReadPage(v);
        int64_t next = LoadI64(page);
        if (indexPages_.size() > needed) {
            // Beyond what the size needs: read to prove the chain, not kept.
            IndexPage extra = indexPages_.back();
            indexPages_.pop_back();
            store_.ReleasePage(extra.page, extra.vidx);
        }
        v = next;
    }
    if (indexPages_.size() < needed) throw tarn::HZDError("Invalid index chain");
}

int64_t BlobIndex::DataPageVidx(uint64_t j) const {
    if (j < kHeadSlots) return LoadI64(head_ + kHeadSlotsOffset + 8 * j);
    uint64_t rest = j - kHeadSlots;
    uint64_t i = rest / kIndexSlots;
    if (i >= indexPages_.size()) throw tarn::HZDError("Invalid index chain");
    return LoadI64(indexPages_[i].page + kIndexSlotsOffset + 8 * (rest % kIndexSlots));
}

void BlobIndex::Release() noexcept {
    for (const IndexPage& p : indexPages_)
        if (p.page) store_.TryReleasePage(p.page, p.vidx);
    indexPages_.clear();
}

}  // namespace pagestore
