// A destination row can be made as soon as the last source row of its footprint has arrived.
// Footprints of consecutive rows share at most their boundary rows, so what is kept between
// bands is the unfinished footprint of the next destination row: the window holds at most
// one footprint's rows. Footprints too tall for that are summed row block by row block into
// 64-bit totals, which is what the whole-image path does with them too; all sums are exact
// integers, so the order in which the rows come makes no difference.
#include "image/BandResampler.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/ResampleStrips.h"

namespace tarn {

using resample::Footprint;

namespace {
// Footprints of this many bytes or more are summed as they go by rather than kept.
constexpr int64_t kMostWindowBytes = int64_t{8} << 20;
// Inner rows of a summed footprint that arrive a few at a time are gathered up to this many
// bytes (and one block of rows) first: every call of the kernels folds each source column into
// the destination totals once, which costs as much as summing a row, so wide rows in small
// bands would otherwise spend most of their time folding.
constexpr int64_t kMostStageBytes = int64_t{2} << 20;
}  // namespace

BandResampler::BandResampler() = default;

BandResampler::~BandResampler() { End(); }

bool BandResampler::Begin(CImage32& destination, int32_t width, int32_t height) {
    return Begin(destination, width, height, resample::BestKernels());
}

bool BandResampler::Begin(CImage32& destination, int32_t width, int32_t height, const resample::Kernels& kernels) {
    End();
    if (width < 1 || height < 1) return false;
    kernels_ = &kernels;
    W_ = width;
    H_ = height;
    dW_ = destination.Width();
    dH_ = destination.Height();
    point_ = resample::IsPointSampled(width, height, destination.Width(), destination.Height());
    xStep_ = resample::StepOf(width, destination.Width());
    yStep_ = resample::StepOf(height, destination.Height());
    windowFirst_ = received_ = nextY_ = staged_ = 0;

    int64_t tallest = 1;
    for (int64_t y = 0; y < dH_; ++y) {
        const Need n = NeedOf(y);
        tallest = std::max(tallest, n.last - n.first + 1);
    }
    // Taller footprints take the general row path in any case (more inner rows than a block).
    summing_ = !point_ && (tallest - 2 > resample::kRowBlock || tallest * W_ * 4 > kMostWindowBytes);
    try {
        if (!point_) {
            // Every entry size is a multiple of 8 bytes, so the pieces stay aligned. A strip has
            // at least one column, so there are at most n strips.
            const size_t n = static_cast<size_t>(dW_);
            const size_t perColumn = sizeof(resample::StripColumns) + sizeof(resample::StripColumn) +
                                     sizeof(resample::EdgeColumns) + sizeof(resample::EdgeWeights) +
                                     (summing_ ? sizeof(resample::RowTotals) + 4 * sizeof(uint64_t) +
                                                     sizeof(resample::AlphaRange)
                                               : 0);
            static_assert(sizeof(resample::StripSums) % 8 == 0 && sizeof(resample::StripColumns) % 8 == 0 &&
                          sizeof(resample::StripColumn) % 8 == 0 && sizeof(resample::EdgeColumns) % 8 == 0 &&
                          sizeof(resample::EdgeWeights) % 8 == 0 && sizeof(resample::RowTotals) % 8 == 0 &&
                          sizeof(resample::AlphaRange) % 8 == 0);
            tables_.reset(new uint64_t[(sizeof(resample::StripSums) + n * perColumn) / 8]());
            uint8_t* p = reinterpret_cast<uint8_t*>(tables_.get());
            const auto carve = [&p](size_t bytes) {
                uint8_t* piece = p;
                p += bytes;
                return piece;
            };
            sums_ = new (carve(sizeof(resample::StripSums))) resample::StripSums();
            strips_ = reinterpret_cast<resample::StripColumns*>(carve(n * sizeof(resample::StripColumns)));
            auto* cols = reinterpret_cast<resample::StripColumn*>(carve(n * sizeof(resample::StripColumn)));
            auto* edges = reinterpret_cast<resample::EdgeColumns*>(carve(n * sizeof(resample::EdgeColumns)));
            auto* weights = reinterpret_cast<resample::EdgeWeights*>(carve(n * sizeof(resample::EdgeWeights)));
            resample::RowTotals* totals = nullptr;
            uint64_t(*sums)[4] = nullptr;
            resample::AlphaRange* alpha = nullptr;
            if (summing_) {
                totals = reinterpret_cast<resample::RowTotals*>(carve(n * sizeof(resample::RowTotals)));
                sums = reinterpret_cast<uint64_t(*)[4]>(carve(n * 4 * sizeof(uint64_t)));
                alpha = reinterpret_cast<resample::AlphaRange*>(carve(n * sizeof(resample::AlphaRange)));
            }
            for (int32_t xa = 0; xa < dW_; xa += strips_[stripCount_++].count) {
                resample::StripColumns& s = strips_[stripCount_];
                s.cols = cols + xa;
                s.edges = edges + xa;
                s.weights = weights + xa;
                resample::BuildStrip(s, xa, static_cast<int32_t>(dW_), xStep_, W_);
                if (summing_) totals[stripCount_] = {sums + xa, alpha + xa};
            }
            totals_ = totals;
        }
        if (!summing_) window_.reset(new uint32_t[static_cast<size_t>(tallest * W_)]);
        stageRows_ = summing_ ? std::clamp<int64_t>(kMostStageBytes / (W_ * 4), 1, resample::kRowBlock) : 0;
        if (stageRows_ > 1) stage_.reset(new uint32_t[static_cast<size_t>(stageRows_ * W_)]);
    } catch (const std::bad_alloc&) {
        End();
        return false;
    }
    destination.LockPixels();
    destination_ = &destination;
    pixels_ = destination.Pixels();
    if (!pixels_) rowOut_.reset(new (std::nothrow) uint32_t[static_cast<size_t>(dW_)]);
    if (!pixels_ && !rowOut_) {
        End();
        return false;
    }
    return true;
}

void BandResampler::End() {
    if (destination_) destination_->UnlockPixels();
    destination_ = nullptr;
    pixels_ = nullptr;
    strips_ = nullptr;
    totals_ = nullptr;
    stripCount_ = 0;
    sums_ = nullptr;
    tables_.reset();
    window_.reset();
    stage_.reset();
    stageRows_ = staged_ = 0;
    rowOut_.reset();
}

BandResampler::Need BandResampler::NeedOf(int64_t y) const {
    // A footprint outside the source reads nothing; it is made once every row is in.
    if (point_) {
        const int64_t sy = resample::PointSourceRow(yStep_, y);
        return sy < H_ ? Need{sy, sy} : Need{H_, H_ - 1};
    }
    const Footprint f = resample::MakeFootprint(yStep_, y, H_);
    return f.first <= f.last ? Need{f.first, f.last} : Need{H_, H_ - 1};
}

uint32_t* BandResampler::RowOut(int64_t y) { return pixels_ ? pixels_ + y * dW_ : rowOut_.get(); }

void BandResampler::Store(int64_t y, const uint32_t* out) {
    if (!pixels_)
        for (int32_t x = 0; x < dW_; ++x) destination_->SetPixel(x, static_cast<int32_t>(y), out[x]);
}

void BandResampler::MakeRow(int64_t y, const uint32_t* top) {
    uint32_t* out = RowOut(y);
    if (point_) {
        resample::PointRow(out, top, W_, static_cast<int32_t>(dW_), xStep_);
    } else {
        const Footprint fy = resample::MakeFootprint(yStep_, y, H_);
        for (size_t k = 0; k < stripCount_; ++k) resample::StripRow(strips_[k], *sums_, *kernels_, top, W_, fy, out);
    }
    Store(y, out);
}

void BandResampler::MakeRowsWithin(const uint32_t* rows, int64_t first, int64_t end) {
    for (; nextY_ < dH_; ++nextY_) {
        const Need n = NeedOf(nextY_);
        if (n.last >= end) break;
        MakeRow(nextY_, n.first <= n.last ? rows + (n.first - first) * W_ : nullptr);
    }
}

void BandResampler::Rows(const uint32_t* rows, int32_t count) {
    if (!destination_ || count <= 0) return;
    if (summing_)
        SumRows(rows, count);
    else
        KeepRows(rows, count);
}

void BandResampler::SumEdgeRow(const uint32_t* row) {
    // The row ends the current destination row and may start the next.
    while (nextY_ < dH_) {
        const Footprint fy = resample::MakeFootprint(yStep_, nextY_, H_);
        if (received_ == fy.first) {
            for (size_t k = 0; k < stripCount_; ++k) {
                resample::StartRowTotals(strips_[k], totals_[k]);
                resample::AddEdgeRow(strips_[k], *sums_, *kernels_, totals_[k], row, static_cast<uint32_t>(fy.wFirst));
            }
            if (fy.first != fy.last) return;
        } else if (received_ == fy.last) {
            for (size_t k = 0; k < stripCount_; ++k)
                resample::AddEdgeRow(strips_[k], *sums_, *kernels_, totals_[k], row, static_cast<uint32_t>(fy.wLast));
        } else {
            return;
        }
        uint32_t* out = RowOut(nextY_);
        for (size_t k = 0; k < stripCount_; ++k) resample::FinishRowTotals(strips_[k], totals_[k], fy, out);
        Store(nextY_, out);
        ++nextY_;
    }
}

void BandResampler::AddInnerRows(const uint32_t* rows, int64_t count) {
    for (size_t k = 0; k < stripCount_; ++k)
        resample::AddInnerRows(strips_[k], *sums_, *kernels_, totals_[k], rows, W_, static_cast<size_t>(count));
}

void BandResampler::SumRows(const uint32_t* rows, int64_t n) {
    while (n > 0 && nextY_ < dH_) {
        const Need need = NeedOf(nextY_);
        int64_t take = 1;
        if (received_ > need.first && received_ < need.last) {
            // Inner rows, as many as the band holds, a block at a time. Rows that come too few
            // at a time are gathered first; they are all summed before the footprint's last row.
            const int64_t left = need.last - received_;
            take = std::min({n, left, resample::kRowBlock});
            if (staged_ == 0 && (take >= stageRows_ || take == left)) {
                AddInnerRows(rows, take);
            } else {
                take = std::min(take, stageRows_ - staged_);
                std::memcpy(stage_.get() + staged_ * W_, rows, static_cast<size_t>(take * W_) * 4);
                staged_ += take;
                if (staged_ == stageRows_ || take == left) {
                    AddInnerRows(stage_.get(), staged_);
                    staged_ = 0;
                }
            }
        } else {
            SumEdgeRow(rows);
        }
        rows += take * W_, n -= take, received_ += take;
    }
}

void BandResampler::KeepRows(const uint32_t* rows, int64_t n) {
    const uint32_t* const band = rows;
    while (n > 0 && nextY_ < dH_) {
        const Need need = NeedOf(nextY_);
        if (received_ < need.first) {
            // Rows no destination row reads.
            const int64_t skip = std::min(n, need.first - received_);
            rows += skip * W_, n -= skip, received_ += skip;
            windowFirst_ = received_;
        } else if (windowFirst_ == received_) {
            // Nothing kept: the band's rows are read where they are, and the start of the
            // next footprint is kept.
            const int64_t end = received_ + n;
            MakeRowsWithin(rows, received_, end);
            const int64_t keep = nextY_ < dH_ ? std::min(NeedOf(nextY_).first, end) : end;
            std::memcpy(window_.get(), rows + (keep - received_) * W_, static_cast<size_t>((end - keep) * W_) * 4);
            windowFirst_ = keep;
            received_ = end;
            n = 0;
        } else {
            // Complete the kept footprint from the band, make its rows, keep what the next
            // one shares with it.
            const int64_t take = std::min(n, need.last + 1 - received_);
            std::memcpy(window_.get() + (received_ - windowFirst_) * W_, rows, static_cast<size_t>(take * W_) * 4);
            rows += take * W_, n -= take, received_ += take;
            if (received_ <= need.last) break;
            MakeRowsWithin(window_.get(), windowFirst_, received_);
            const int64_t keep = nextY_ < dH_ ? std::min(NeedOf(nextY_).first, received_) : received_;
            const int64_t back = received_ - keep;
            if (back <= (rows - band) / W_) {
                // The rows still needed came with this band: read them, and the rest of the
                // band, where they are rather than copying every footprint that follows.
                rows -= back * W_, n += back, received_ = keep;
            } else {
                std::memmove(window_.get(), window_.get() + (keep - windowFirst_) * W_, static_cast<size_t>(back * W_) * 4);
            }
            windowFirst_ = keep;
        }
    }
}

}  // namespace tarn
