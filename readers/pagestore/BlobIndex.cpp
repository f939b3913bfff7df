#include "readers/pagestore/BlobIndex.h"

#include <cstdio>
#include <string>

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

    // Data pages are file pages: a blob cannot be longer than the file's pages hold.
    uint64_t dataPages = blobSize / kPageSize + (blobSize % kPageSize != 0);
    if (dataPages > store_.PageCount()) throw tarn::HZDError("Invalid blobSize");
    uint64_t needed = dataPages > kHeadSlots ? (dataPages - kHeadSlots + kIndexSlots - 1) / kIndexSlots : 0;

    // Only the index pages the size needs are read, which also bounds a chain that loops.
    while (v != -1 && indexPages_.size() < needed) {
        // The slot first: once a page is read, nothing may throw before it is recorded.
        indexPages_.push_back({v, nullptr});
        uint8_t* page = indexPages_.back().page = store_.ReadPage(v);
        v = LoadI64(page);
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
