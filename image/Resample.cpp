// Point sampling for whole multiples, the alpha-weighted area average otherwise.
//
// The area average runs strip by strip: a strip is up to kStripColumns destination columns
// whose footprints span at most kSpanColumns source columns, so every table lives on the
// stack. Column footprints and their weights are computed once per strip, row footprints
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

namespace tarn {
namespace {

using resample::AlphaRange;
using resample::ColumnSum;
using resample::Div255;
using resample::EdgeColumns;
using resample::Footprint;
using resample::Kernels;
using resample::PlainSum;
using resample::StripColumn;
using resample::EdgeWeights;
using resample::UniformRowJob;
using resample::MixedRowJob;
using resample::MakeFootprint;

constexpr int32_t kStripColumns = 256;
constexpr int64_t kSpanColumns = 1024;
// Rows summed into the 32-bit lanes of the kernels before they are widened.
constexpr int64_t kRowBlock = 128;
// Rows of the next destination row requested ahead (all of them for a reduction up to 32x),
// for sources too large to stay in the caches between destination rows.
constexpr int64_t kPrefetchRows = 33;
constexpr int64_t kPrefetchSourceBytes = int64_t{16} << 20;

// 16.16 step of one axis. Sources below 32768 pixels give the same value as 32-bit
// arithmetic; larger ones need the 64 bits.
int64_t StepOf(int32_t sourceSize, int32_t destinationSize) {
    return static_cast<int64_t>(static_cast<double>(sourceSize) / destinationSize * 65536.0);
}

void PointSample(CImage32& destination, const CImage32& source, int32_t w, int32_t h, int64_t xStep,
                 int64_t yStep) {
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    int64_t fy = yStep / 2;
    int64_t previous = -1;
    for (int32_t y = 0; y < h; ++y, fy += yStep) {
        uint32_t* out = dst + y * dW;
        const int64_t sy = fy >> 16;
        if (sy >= H) {
            std::fill_n(out, w, 0u);
        } else if (sy == previous) {
            std::memcpy(out, out - dW, static_cast<size_t>(w) * 4);
        } else if (xStep == 65536) {
            const int64_t n = std::min<int64_t>(w, W);
            std::memcpy(out, src + sy * W, static_cast<size_t>(n) * 4);
            std::fill(out + n, out + w, 0u);
        } else {
            const uint32_t* row = src + sy * W;
            int64_t fx = xStep / 2;
            for (int32_t x = 0; x < w; ++x, fx += xStep) out[x] = (fx >> 16) < W ? row[fx >> 16] : 0u;
        }
        previous = sy;
    }
}

// Everything the area average keeps per strip; about 76 KiB, on the stack.
struct StripState {
    StripColumn cols[kStripColumns];
    EdgeColumns edges[kStripColumns];
    EdgeColumns chunkEdges[kStripColumns];
    EdgeWeights weights[kStripColumns];
    uint32_t weightsKey[6];  // alphas and row weights the weights were made for
    bool weightsValid;
    uint64_t totals[kStripColumns][4];  // b, g, r, v
    AlphaRange alpha[kStripColumns];
    ColumnSum edgeSums[kStripColumns];
    // Four spare columns let the vector kernels read a few columns past a footprint.
    union {  // inner rows are summed one way or the other
        ColumnSum innerSums[kSpanColumns + 4];
        PlainSum plain[kSpanColumns + 4];
    };
    ColumnSum edgeRowSums[kSpanColumns + 4];
    uint32_t columnAlpha[kSpanColumns];  // alpha range per source column (AlphaWord)
    int32_t count;
    bool covered;  // some column of the strip lies inside the source
    int64_t spanFirst;
    int64_t spanLast;
};

// Resample runs on the host's threads, whose stacks may be small.
static_assert(sizeof(StripState) <= 80 * 1024, "strip tables must stay a modest stack frame");

inline void Widen(AlphaRange& r, uint32_t lo, uint32_t hi) {
    r.lo = std::min(r.lo, lo);
    r.hi = std::max(r.hi, hi);
}

inline void AddSums(uint64_t totals[4], const ColumnSum& s, uint64_t factor) {
    totals[0] += factor * s.b;
    totals[1] += factor * s.g;
    totals[2] += factor * s.r;
    totals[3] += factor * s.a;
}

// A corner pixel of a footprint: the one kind whose weight needs the general rounding.
inline void AddCorner(uint64_t totals[4], uint32_t p, uint32_t C) {
    const uint64_t v = Div255((p >> 24) * C);
    totals[0] += (p & 255) * v;
    totals[1] += ((p >> 8) & 255) * v;
    totals[2] += ((p >> 16) & 255) * v;
    totals[3] += v;
}

// Fills the strip's column tables from destination column xa on.
void BuildStrip(StripState& s, int32_t xa, int32_t w, int64_t xStep, int64_t W) {
    s.count = 0;
    s.weightsValid = false;
    s.covered = false;
    s.spanFirst = s.spanLast = 0;
    for (int32_t x = xa; x < w && s.count < kStripColumns; ++x) {
        const Footprint f = MakeFootprint(xStep, x, W);
        StripColumn c{};
        c.empty = f.first > f.last;
        if (!c.empty) {
            if (s.covered && f.last - s.spanFirst + 1 > kSpanColumns) break;
            if (!s.covered) s.spanFirst = f.first;
            s.covered = true;
            s.spanLast = std::max(s.spanLast, f.last);
            c.first = f.first;
            c.last = f.last;
            c.single = f.first == f.last;
            c.inner = c.single ? 0 : f.last - f.first - 1;
            c.wFirst = static_cast<uint32_t>(f.wFirst);
            c.wLast = static_cast<uint32_t>(f.wLast);
        }
        s.cols[s.count] = c;
        EdgeColumns& e = s.edges[s.count];
        e.first = c.empty ? 0 : static_cast<int32_t>(c.first);
        e.last = c.empty ? 0 : static_cast<int32_t>(c.last);
        e.wFirst = c.empty ? 0 : std::max(c.wFirst, 1u);
        e.wLast = c.empty || c.single ? 0 : std::max(c.wLast, 1u);
        ++s.count;
    }
    // The spare columns past the span, read (and ignored) by the mixed-row kernels.
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    if (n <= static_cast<size_t>(kSpanColumns)) {
        std::memset(s.innerSums + n, 0, 4 * sizeof(ColumnSum));
        std::memset(s.edgeRowSums + n, 0, 4 * sizeof(ColumnSum));
    }
}

// Shares of every column's edge pixels for inner rows of alpha a, a first row of alpha a0 and
// weight B0, and a last row of alpha a1 and weight B1; kept while they stay the same.
void UpdateWeights(StripState& s, uint32_t a, uint32_t a0, uint32_t B0, uint32_t a1, uint32_t B1, bool singleRow) {
    const uint32_t key[6] = {a, a0, B0, a1, B1, singleRow};
    if (s.weightsValid && std::equal(key, key + 6, s.weightsKey)) return;
    std::copy(key, key + 6, s.weightsKey);
    s.weightsValid = true;
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        const EdgeColumns& e = s.edges[x];
        EdgeWeights& w = s.weights[x];
        w.innerFirst = resample::EdgeShare(a * e.wFirst);
        w.innerLast = resample::EdgeShare(a * e.wLast);
        w.topFirst = Div255(a0 * std::max(c.wFirst * B0, 255u));
        w.topLast = c.single ? 0 : Div255(a0 * std::max(c.wLast * B0, 255u));
        w.bottomFirst = singleRow ? 0 : Div255(a1 * std::max(c.wFirst * B1, 255u));
        w.bottomLast = singleRow || c.single ? 0 : Div255(a1 * std::max(c.wLast * B1, 255u));
    }
}

// A destination row whose inner rows fit one block and whose strip fits one span, when each
// part of the footprint (inner rows, first row, last row) has a single alpha. Returns false,
// having written nothing, when some part has mixed alphas.
bool TryUniformRow(StripState& s, const Kernels& k, const uint32_t* src, int64_t W, const Footprint& fy,
                   uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const int64_t innerRows = singleRow ? 0 : fy.last - fy.first - 1;
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    const uint32_t* top = src + fy.first * W;
    const uint32_t* bottom = singleRow ? nullptr : src + fy.last * W;
    AlphaRange topRange, bottomRange, inner;
    k.alphaRange(top + s.spanFirst, n, topRange);
    if (topRange.lo != topRange.hi) return false;
    if (bottom) {
        k.alphaRange(bottom + s.spanFirst, n, bottomRange);
        if (bottomRange.lo != bottomRange.hi) return false;
    }
    if (innerRows > 0) {
        k.plainRows(src + (fy.first + 1) * W + s.spanFirst, W, static_cast<size_t>(innerRows), n, s.plain, inner);
        if (inner.lo != inner.hi) return false;
    } else {
        std::memset(s.plain, 0, n * sizeof(PlainSum));
    }

    const uint32_t a = innerRows > 0 ? inner.lo : 0, a0 = topRange.lo, a1 = bottom ? bottomRange.lo : 0;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    UpdateWeights(s, a, a0, B0, a1, B1, singleRow);
    UniformRowJob job;
    job.cols = s.cols;
    job.weights = s.weights;
    job.count = static_cast<size_t>(s.count);
    job.plain = s.plain;
    job.spanFirst = s.spanFirst;
    job.top = top;
    job.bottom = bottom;
    job.innerRows = static_cast<uint64_t>(innerRows);
    job.innerShare = 255 * a;
    job.topShare = resample::EdgeShare(a0 * std::max(B0, 1u));
    job.bottomShare = bottom ? resample::EdgeShare(a1 * std::max(B1, 1u)) : 0;
    const bool same = (innerRows == 0 || a == a0) && (!bottom || a1 == a0);
    job.alpha = same ? static_cast<int32_t>(a0) : -1;
    job.B0 = B0;
    job.B1 = B1;
    job.out = out;
    k.uniformRow(job);
    return true;
}

// A destination row whose inner rows fit one block and whose strip fits one span, any alphas.
void MixedRow(StripState& s, const Kernels& k, const uint32_t* src, int64_t W, const Footprint& fy, uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    const uint32_t* top = src + fy.first * W;
    const uint32_t* bottom = singleRow ? nullptr : src + fy.last * W;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    // The edge rows start the column sums and ranges, the inner rows add to them.
    k.edgeRows(top + s.spanFirst, (bottom ? bottom : top) + s.spanFirst, n, std::max(B0, 1u), bottom ? std::max(B1, 1u) : 0,
               s.edgeRowSums, s.columnAlpha);
    const size_t innerRows = singleRow ? 0 : static_cast<size_t>(fy.last - fy.first - 1);
    if (innerRows > 0) {
        const uint32_t* first = src + (fy.first + 1) * W;
        k.premulRows(first + s.spanFirst, W, innerRows, n, s.innerSums, s.columnAlpha);
        k.edgeColumns(first, W, innerRows, s.edges, static_cast<size_t>(s.count), s.edgeSums);
    } else {
        std::memset(s.innerSums, 0, n * sizeof(ColumnSum));
        std::memset(s.edgeSums, 0, static_cast<size_t>(s.count) * sizeof(ColumnSum));
    }

    MixedRowJob job;
    job.cols = s.cols;
    job.edgeColumns = s.edgeSums;
    job.count = static_cast<size_t>(s.count);
    job.inner = s.innerSums;
    job.edgeRows = s.edgeRowSums;
    job.alphas = s.columnAlpha;
    job.spanFirst = s.spanFirst;
    job.top = top;
    job.bottom = bottom;
    job.innerRows = innerRows;
    job.B0 = B0;
    job.B1 = B1;
    job.out = out;
    k.mixedRow(job);
}

// The edge columns restricted to source columns [s0, s1): a column outside weighs nothing.
const EdgeColumns* EdgesWithin(StripState& s, int64_t s0, int64_t s1) {
    if (s0 == s.spanFirst && s1 == s.spanLast + 1) return s.edges;
    for (int32_t x = 0; x < s.count; ++x) {
        EdgeColumns e = s.edges[x];
        if (e.first < s0 || e.first >= s1) e.first = static_cast<int32_t>(s0), e.wFirst = 0;
        if (e.last < s0 || e.last >= s1) e.last = static_cast<int32_t>(s0), e.wLast = 0;
        s.chunkEdges[x] = e;
    }
    return s.chunkEdges;
}

// Adds, for every destination column, the sums of its inner columns within [s0, s1).
void FoldInnerColumns(StripState& s, const ColumnSum* sums, int64_t s0, int64_t s1, uint64_t factor) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        for (int64_t j = std::max(c.first + 1, s0), end = std::min(c.last - 1, s1 - 1); j <= end; ++j)
            AddSums(s.totals[x], sums[j - s0], factor);
    }
}

// Any destination row: footprints taller than a block of rows or strips wider than a span
// are summed block by block and span by span into 64-bit totals.
void GeneralRow(StripState& s, const Kernels& k, const uint32_t* src, int64_t W, const Footprint& fy, uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const uint64_t innerRows = singleRow ? 0 : static_cast<uint64_t>(fy.last - fy.first - 1);
    const uint32_t* top = src + fy.first * W;
    const uint32_t* bottom = singleRow ? nullptr : src + fy.last * W;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    std::memset(s.totals, 0, static_cast<size_t>(s.count) * sizeof(s.totals[0]));
    std::fill_n(s.alpha, s.count, AlphaRange{});
    for (int64_t s0 = s.spanFirst; s0 <= s.spanLast; s0 += kSpanColumns) {
        const int64_t s1 = std::min(s0 + kSpanColumns, s.spanLast + 1);
        const size_t n = static_cast<size_t>(s1 - s0);
        k.edgeRows(top + s0, (bottom ? bottom : top) + s0, n, std::max(B0, 1u), bottom ? std::max(B1, 1u) : 0,
                   s.edgeRowSums, s.columnAlpha);
        const EdgeColumns* edges = EdgesWithin(s, s0, s1);
        for (int64_t i = fy.first + 1; i < fy.last; i += kRowBlock) {
            const int64_t iStop = std::min(i + kRowBlock, fy.last);
            const size_t rows = static_cast<size_t>(iStop - i);
            k.premulRows(src + i * W + s0, W, rows, n, s.innerSums, s.columnAlpha);
            k.edgeColumns(src + i * W, W, rows, edges, static_cast<size_t>(s.count), s.edgeSums);
            FoldInnerColumns(s, s.innerSums, s0, s1, 255);
            for (int32_t x = 0; x < s.count; ++x) AddSums(s.totals[x], s.edgeSums[x], 1);
        }
        FoldInnerColumns(s, s.edgeRowSums, s0, s1, 1);
        for (int32_t x = 0; x < s.count; ++x) {
            const StripColumn& c = s.cols[x];
            if (c.empty) continue;
            for (int64_t j = std::max(c.first, s0), end = std::min(c.last, s1 - 1); j <= end; ++j)
                Widen(s.alpha[x], resample::AlphaWordLo(s.columnAlpha[j - s0]), resample::AlphaWordHi(s.columnAlpha[j - s0]));
        }
    }
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        uint64_t* t = s.totals[x];
        if (c.empty) {
            out[x] = 0;
            continue;
        }
        AddCorner(t, top[c.first], std::max(c.wFirst * B0, 255u));
        if (!c.single) AddCorner(t, top[c.last], std::max(c.wLast * B0, 255u));
        if (bottom) {
            AddCorner(t, bottom[c.first], std::max(c.wFirst * B1, 255u));
            if (!c.single) AddCorner(t, bottom[c.last], std::max(c.wLast * B1, 255u));
        }
        if (t[3] == 0) {
            out[x] = 0;
            continue;
        }
        const uint64_t alpha = s.alpha[x].lo == s.alpha[x].hi
                                   ? s.alpha[x].lo
                                   : resample::Quotient(t[3] * 255, resample::WeightSum(c, innerRows, B0, B1, singleRow));
        out[x] = resample::PackAverage(t[0], t[1], t[2], t[3], alpha);
    }
}

// Source rows are read in pieces of one span; the prefetcher does not see from one piece the
// next, so the rows of the next destination row are requested while this one is summed.
void PrefetchRows(const StripState& s, const uint32_t* src, int64_t W, int64_t first, int64_t last) {
    for (int64_t i = first; i <= last; ++i)
        for (int64_t c = s.spanFirst; c <= s.spanLast; c += 16) resample::Prefetch(src + i * W + c);
}

void AreaAverage(const Kernels& k, CImage32& destination, const CImage32& source, int32_t w, int32_t h,
                 int64_t xStep, int64_t yStep) {
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    const bool prefetch = W * H * 4 >= kPrefetchSourceBytes;
    StripState s;
    for (int32_t xa = 0; xa < w; xa += s.count) {
        BuildStrip(s, xa, w, xStep, W);
        const bool oneSpan = s.spanLast - s.spanFirst < kSpanColumns;
        for (int32_t y = 0; y < h; ++y) {
            uint32_t* out = dst + y * dW + xa;
            const Footprint fy = MakeFootprint(yStep, y, H);
            if (prefetch && s.covered && y + 1 < h) {
                const Footprint next = MakeFootprint(yStep, y + 1, H);
                const int64_t first = std::max(next.first, fy.last + 1);
                PrefetchRows(s, src, W, first, std::min({next.last, H - 1, first + kPrefetchRows - 1}));
            }
            if (!s.covered || fy.first > fy.last) {
                std::fill_n(out, s.count, 0u);
            } else if (oneSpan && fy.last - fy.first - 1 <= kRowBlock) {
                if (!TryUniformRow(s, k, src, W, fy, out)) MixedRow(s, k, src, W, fy, out);
            } else {
                GeneralRow(s, k, src, W, fy, out);
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
    const bool point = dW % W == 0 && dH % H == 0;
    const int64_t xStep = StepOf(W, dW), yStep = StepOf(H, dH);
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
