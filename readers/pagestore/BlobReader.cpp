#include "readers/pagestore/BlobReader.h"

#include <algorithm>
#include <cstring>

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/LittleEndian.h"
#include "readers/pagestore/SeekPageMapper.h"

namespace pagestore {

BlobReader::BlobReader(ReadablePageStore& store, int64_t blobId) : store_(store), blobId_(blobId) {
    head_ = store_.ReadPage(blobId_);
    try {
        inline_ = head_[0] == kInlineBlobKind;
        blobSize_ = LoadU64(head_ + kBlobSizeOffset);
        if (inline_ && blobSize_ > kInlineCapacity) throw tarn::HZDError("Invalid blobSize");
        index_.emplace(store_, head_, inline_, blobSize_);
    } catch (...) {
        Close();
        throw;
    }
}

void BlobReader::Close() noexcept {
    if (cached_) store_.TryReleasePage(cached_, cachedVidx_);
    cached_ = nullptr;
    cachedVidx_ = -1;
    index_.reset();
    if (head_) store_.TryReleasePage(head_, blobId_);
    head_ = nullptr;
}

const uint8_t* BlobReader::Locate(uint64_t& available) {
    available = blobSize_ - position_;
    if (inline_) return head_ + kInlineDataOffset + position_;
    int64_t vidx = index_->DataPageVidx(position_ / kPageSize);
    if (!cached_ || vidx != cachedVidx_) {
        uint8_t* page = store_.ReadPage(vidx);
        if (cached_) store_.TryReleasePage(cached_, cachedVidx_);
        cached_ = page;
        cachedVidx_ = vidx;
    }
    uint64_t offset = position_ % kPageSize;
    available = std::min<uint64_t>(kPageSize - offset, available);
    return cached_ + offset;
}

uint64_t BlobReader::Next(const uint8_t*& data, uint64_t max) {
    if (max == 0 || !head_ || position_ >= blobSize_) return 0;
    uint64_t available;
    data = Locate(available);
    available = std::min(available, max);
    position_ += available;
    return available;
}

int64_t BlobReader::Read(uint8_t* dst, int n) {
    if (n <= 0) return 0;
    uint64_t copied = 0;
    const uint8_t* data;
    while (uint64_t chunk = Next(data, static_cast<uint64_t>(n) - copied)) {
        std::memcpy(dst + copied, data, chunk);
        copied += chunk;
    }
    return static_cast<int64_t>(copied);
}

}  // namespace pagestore
