// Point sampling for whole multiples, the alpha-weighted area average otherwise.
//
// The area average runs strip by strip (ResampleStrips.h): a strip is up to kStripColumns
// destination columns whose footprints span at most kSpanColumns source columns, so every
// table lives on the stack. Column footprints and their weights are computed once per strip, row footprints
// once per destination row. For each destination row the inner rows of the footprint are
// summed down the columns (contiguous, branch-free), then each destination column combines
// its inner column sums, its two edge columns, its two edge rows and its four corners (the
// weights are explained in ResampleKernels.h). When every part of a row has one alpha (an
// opaque image, say) plain channel sums and per-position shares suffice; otherwise the
// sums are alpha-weighted pixel by pixel. All sums are exact integers, so the order of
// summation does not change the result.
#include "image/Resample.h"

#include <algorithm>
#include <cstring>

#include "image/ResampleKernels.h"
#include "image/ResampleStrips.h"

namespace tarn {
namespace {

using resample::Footprint;
using resample::Kernels;
using resample::MakeFootprint;
using resample::StripColumns;
using resample::StripSums;

// Sources too large to stay in the caches, and the source bytes of one group of destination
// rows for them.
constexpr int64_t kLargeSourceBytes = int64_t{16} << 20;
constexpr double kGroupBytes = 512 * 1024;

void PointSample(CImage32& destination, const CImage32& source, int32_t w, int32_t h, int64_t xStep,
                 int64_t yStep) {
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    int64_t previous = -1;
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* out = dst + y * dW;
        const int64_t sy = resample::PointSourceRow(yStep, y);
        if (sy == previous && sy < H)
            std::memcpy(out, out - dW, static_cast<size_t>(w) * 4);
        else
            resample::PointRow(out, sy < H ? src + sy * W : nullptr, W, w, xStep);
        previous = sy;
    }
}

// Resample runs on the host's threads, whose stacks may be small.
static_assert(sizeof(resample::StripTables) + sizeof(StripSums) <= 80 * 1024,
              "strip tables must stay a modest stack frame");

// Source rows [first, last] whole, as one sequential sweep: the strips then read them from
// the cache. Read strip by strip from memory, a large source costs several times more, one
// span-wide piece per row and page being all the hardware prefetcher sees.
void SweepRows(const uint32_t* src, int64_t W, int64_t first, int64_t last) {
    const char* p = reinterpret_cast<const char*>(src + first * W);
    const char* const end = reinterpret_cast<const char*>(src + (last + 1) * W);
    for (; p < end; p += 64) resample::Prefetch(p);
}

// A strip's tables and sums, on the stack of the caller, the strip pointing into its tables.
struct StripScratch {
    resample::StripTables tables;
    StripColumns s{};
    StripSums t;
    StripScratch() {
        s.cols = tables.cols;
        s.edges = tables.edges;
        s.weights = tables.weights;
    }
};

// Four source columns to one across and whole source rows down: each destination row in one
// pass over its source rows, whole rows in address order (no strips, so no grouping either);
// the last few columns, and any row the kernel does not take, by strips.
void FourWideRows(const Kernels& k, CImage32& destination, const CImage32& source, int32_t w, int32_t h,
                  int64_t xStep, int64_t yStep) {
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    StripScratch scratch;
    StripColumns& s = scratch.s;
    StripSums& t = scratch.t;
    for (int32_t y = 0; y < h; ++y) {
        const Footprint fy = MakeFootprint(yStep, y, H);
        const uint32_t* top = fy.first <= fy.last ? src + fy.first * W : nullptr;
        uint32_t* out = dst + y * dW;
        size_t done = 0;
        if (top && fy.first < fy.last && fy.wFirst == 255 && fy.wLast == 0) {
            resample::AlignedRowJob job{};
            job.count = static_cast<size_t>(w);
            job.top = top;
            job.blockRows = static_cast<size_t>(fy.last - fy.first);
            job.bottom = top + static_cast<int64_t>(job.blockRows) * W;
            job.stride = W;
            job.spanCount = static_cast<size_t>(W);
            job.out = out;
            done = k.fourWideRow(job);
        }
        for (int32_t xa = static_cast<int32_t>(done); xa < w; xa += s.count) {
            resample::BuildStrip(s, xa, w, xStep, W);
            resample::ClearSpareColumns(s, t);
            resample::StripRow(s, t, k, top, W, fy, out);
        }
    }
}

void AreaAverage(const Kernels& k, CImage32& destination, const CImage32& source, int32_t w, int32_t h,
                 int64_t xStep, int64_t yStep) {
    if (k.fourWideRow && xStep == int64_t{4} << 16 && yStep % 65536 == 0 && yStep <= int64_t{16} << 16 &&
        source.Width() >= 24) {
        FourWideRows(k, destination, source, w, h, xStep, yStep);
        return;
    }
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    // Destination rows go in groups whose source rows fit the cache, each group strip by strip.
    const bool large = W * H * 4 >= kLargeSourceBytes;
    const double sourceRowsPerRow = static_cast<double>(yStep) / 65536.0;
    const int32_t group =
        large ? static_cast<int32_t>(std::clamp(static_cast<double>(kGroupBytes) / (W * 4.0) / sourceRowsPerRow, 1.0,
                                                static_cast<double>(h)))
              : h;
    StripScratch scratch;
    StripColumns& s = scratch.s;
    StripSums& t = scratch.t;
    for (int32_t y0 = 0; y0 < h; y0 += group) {
        const int32_t y1 = std::min(h, y0 + group);
        if (large) {
            const Footprint a = MakeFootprint(yStep, y0, H), b = MakeFootprint(yStep, y1 - 1, H);
            if (a.first <= b.last) SweepRows(src, W, std::max<int64_t>(a.first, 0), std::min(b.last, H - 1));
        }
        for (int32_t xa = 0; xa < w; xa += s.count) {
            resample::BuildStrip(s, xa, w, xStep, W);
            resample::ClearSpareColumns(s, t);
            for (int32_t y = y0; y < y1; ++y) {
                const Footprint fy = MakeFootprint(yStep, y, H);
                resample::StripRow(s, t, k, fy.first <= fy.last ? src + fy.first * W : nullptr, W, fy, dst + y * dW);
            }
        }
    }
}

// Images whose pixels are not one contiguous array are reached pixel by pixel.
void ResamplePerPixel(CImage32& destination, const CImage32& source, int32_t w, int32_t h, bool point,
                      int64_t xStep, int64_t yStep) {
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint32_t p;
            if (point) {
                const int64_t sx = (xStep / 2 + xStep * x) >> 16, sy = (yStep / 2 + yStep * y) >> 16;
                p = sx < source.Width() && sy < source.Height()
                        ? source.GetPixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy))
                        : 0u;
            } else {
                p = resample::AreaSampleAt(source, xStep, yStep, x, y);
            }
            destination.SetPixel(x, y, p);
        }
    }
}

}  // namespace

namespace resample {

bool ResampleWith(const Kernels& kernels, CImage32& destination, const CImage32& source, int32_t width,
                  int32_t height) {
    ScopedPixelLock lock(destination, source);
    const int32_t w = std::min(width, destination.Width());
    const int32_t h = std::min(height, destination.Height());
    // An image resampled into itself has equal sizes, so every pixel would be copied onto itself.
    if (w <= 0 || h <= 0 || &destination == &source) return true;

    const int32_t W = source.Width(), H = source.Height();
    const int32_t dW = destination.Width(), dH = destination.Height();
    const bool point = resample::IsPointSampled(W, H, dW, dH);
    const int64_t xStep = resample::StepOf(W, dW), yStep = resample::StepOf(H, dH);
    if (!source.Pixels() || !destination.Pixels())
        ResamplePerPixel(destination, source, w, h, point, xStep, yStep);
    else if (point)
        PointSample(destination, source, w, h, xStep, yStep);
    else
        AreaAverage(kernels, destination, source, w, h, xStep, yStep);
    return true;
}

}  // namespace resample

bool Resample(CImage32& destination, const CImage32& source, int32_t width, int32_t height) {
    return resample::ResampleWith(resample::BestKernels(), destination, source, width, height);
}

}  // namespace tarn
