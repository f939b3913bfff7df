#include "readers/pagestore/BandWriter.h"

#include <algorithm>
#include <cstring>

namespace pagestore {

namespace {
// Rows per band: as many as fit in this many bytes, at least one.
constexpr uint64_t kBandBytes = 256 * 1024;
// Previews up to this size are decoded into a block of their own, zstd writing in place as the
// one-shot decoder does (no window buffer of its own, no copy into the band), and handed over
// band by band as the rows land. A larger preview would cost more than zstd's window.
constexpr uint64_t kOwnBlockBytes = 4 * 1024 * 1024;
}  // namespace

BandWriter::BandWriter(tarn::PreviewSink& sink, uint32_t width, uint32_t height)
    : sink_(sink), width_(width), height_(height), rowBytes_(uint64_t{width} * 4), needed_(rowBytes_ * height) {
    bandRows_ = std::max<uint64_t>(1, std::min<uint64_t>(height, kBandBytes / rowBytes_));
}

bool BandWriter::Begin() {
    if (!sink_.Begin(static_cast<int32_t>(width_), static_cast<int32_t>(height_))) {
        refusal_ = sink_.Refusal();
        return false;
    }
    begun_ = true;
    destination_ = reinterpret_cast<uint8_t*>(sink_.InPlaceDestination());
    bandBytes_ = bandRows_ * rowBytes_;
    const bool ownBlock = !destination_ && needed_ <= kOwnBlockBytes;
    scratchBytes_ = ownBlock ? needed_ : destination_ ? kBandBytes : bandBytes_;
    if (!band_) band_.reset(static_cast<uint8_t*>(std::malloc(scratchBytes_)));
    if (ownBlock) destination_ = band_.get();
    if (!band_) {
        Discard();
        refusal_ = tarn::PreviewOutcome::NoPreview;
        return false;
    }
    written_ = delivered_ = 0;
    return true;
}

uint8_t* BandWriter::Space(uint64_t& capacity) {
    if (written_ >= needed_) {  // every row is delivered: the block or band is scratch now
        capacity = scratchBytes_;
        return band_.get();
    }
    if (destination_) {
        capacity = needed_ - written_;
        return destination_ + written_;
    }
    const uint64_t inBand = written_ - delivered_ * rowBytes_;
    capacity = std::min(bandBytes_ - inBand, needed_ - written_);
    return band_.get() + inBand;
}

void BandWriter::Commit(uint64_t n) {
    if (written_ >= needed_) return;  // scratch
    written_ += n;
    // Bands of at most bandRows_ rows, also from a whole block, so that the sink reads each while
    // it is in the cache.
    const uint64_t rows = written_ / rowBytes_;
    while (rows - delivered_ >= bandRows_) Deliver(delivered_ + bandRows_);
    if (written_ == needed_) Deliver(rows);
}

void BandWriter::Finish() {
    if (written_ >= needed_) return;
    if (destination_) {
        std::memset(destination_ + written_, 0, needed_ - written_);
        Commit(needed_ - written_);
        return;
    }
    const uint64_t inBand = written_ - delivered_ * rowBytes_;
    std::memset(band_.get() + inBand, 0, bandBytes_ - inBand);
    written_ = std::min(needed_, (delivered_ + bandRows_) * rowBytes_);
    Deliver(written_ / rowBytes_);
    // The band is all zeros from here on: hand it over as it is.
    std::memset(band_.get(), 0, bandBytes_);
    while (delivered_ < height_) {
        const uint64_t rows = std::min<uint64_t>(bandRows_, height_ - delivered_);
        written_ += rows * rowBytes_;
        Deliver(delivered_ + rows);
    }
}

void BandWriter::Discard() {
    if (!begun_) return;
    begun_ = false;
    sink_.Discard();
}

void BandWriter::Deliver(uint64_t rows) {
    if (rows <= delivered_) return;
    const uint64_t count = rows - delivered_;
    const uint8_t* from = destination_ ? destination_ + delivered_ * rowBytes_ : band_.get();
    delivered_ = rows;
    sink_.Rows(reinterpret_cast<const uint32_t*>(from), static_cast<int32_t>(count));
}

}  // namespace pagestore
