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
#include "image/ResampleStrips.h"

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
using resample::StripColumns;
using resample::StripSums;
using resample::kSpanColumns;
using resample::kStripColumns;
using resample::kRowBlock;
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

// The strip's spare columns past the span, read (and ignored) by the mixed-row kernels.
void ClearSpareColumns(const StripColumns& s, StripSums& t) {
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    if (n <= static_cast<size_t>(kSpanColumns)) {
        std::memset(t.innerSums + n, 0, 4 * sizeof(ColumnSum));
        std::memset(t.edgeRowSums + n, 0, 4 * sizeof(ColumnSum));
    }
}

// Shares of every column's edge pixels for inner rows of alpha a, a first row of alpha a0 and
// weight B0, and a last row of alpha a1 and weight B1; kept while they stay the same.
void UpdateWeights(StripColumns& s, uint32_t a, uint32_t a0, uint32_t B0, uint32_t a1, uint32_t B1, bool singleRow) {
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
// having written nothing, when some part has mixed alphas. `top` is the footprint's first
// source row, the others follow it W pixels apart.
bool TryUniformRow(StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W,
                   const Footprint& fy, uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const int64_t innerRows = singleRow ? 0 : fy.last - fy.first - 1;
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    const uint32_t* bottom = singleRow ? nullptr : top + (fy.last - fy.first) * W;
    AlphaRange topRange, bottomRange, inner;
    k.alphaRange(top + s.spanFirst, n, topRange);
    if (topRange.lo != topRange.hi) return false;
    if (bottom) {
        k.alphaRange(bottom + s.spanFirst, n, bottomRange);
        if (bottomRange.lo != bottomRange.hi) return false;
    }
    if (innerRows > 0) {
        k.plainRows(top + W + s.spanFirst, W, static_cast<size_t>(innerRows), n, t.plain, inner);
        if (inner.lo != inner.hi) return false;
    } else {
        std::memset(t.plain, 0, n * sizeof(PlainSum));
    }

    const uint32_t a = innerRows > 0 ? inner.lo : 0, a0 = topRange.lo, a1 = bottom ? bottomRange.lo : 0;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    UpdateWeights(s, a, a0, B0, a1, B1, singleRow);
    UniformRowJob job;
    job.cols = s.cols;
    job.weights = s.weights;
    job.count = static_cast<size_t>(s.count);
    job.plain = t.plain;
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

// A destination row whose footprints all align with source pixels (whole-number ratios), when
// the strip fits one span and the sums fit 32 bits. False, having written nothing, otherwise.
bool TryAlignedRow(const StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W,
                   const Footprint& fy, uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    if (s.alignedBlock < 0 || s.spanLast - s.spanFirst >= kSpanColumns) return false;
    if (singleRow ? fy.wFirst != 0 : fy.wFirst != 255 || fy.wLast != 0) return false;
    const uint64_t blockRows = static_cast<uint64_t>(fy.last - fy.first), blockColumns = static_cast<uint64_t>(s.alignedBlock);
    if (255 * blockColumns * blockRows + blockColumns + blockRows + 1 > resample::kMostAlignedWeight) return false;
    resample::AlignedRowJob job;
    job.cols = s.cols;
    job.count = static_cast<size_t>(s.count);
    job.top = top;
    job.bottom = top + static_cast<int64_t>(blockRows) * W;
    job.stride = W;
    job.blockRows = blockRows;
    job.spanFirst = s.spanFirst;
    job.spanCount = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    job.blockSums = t.innerSums;
    job.boundarySums = t.edgeRowSums;
    job.alphas = t.columnAlpha;
    job.out = out;
    k.alignedRow(job);
    return true;
}

// A destination row whose inner rows fit one block and whose strip fits one span, any alphas.
void MixedRow(StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W, const Footprint& fy,
              uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    const uint32_t* bottom = singleRow ? nullptr : top + (fy.last - fy.first) * W;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    // The edge rows start the column sums and ranges, the inner rows add to them.
    k.edgeRows(top + s.spanFirst, (bottom ? bottom : top) + s.spanFirst, n, std::max(B0, 1u), bottom ? std::max(B1, 1u) : 0,
               t.edgeRowSums, t.columnAlpha);
    const size_t innerRows = singleRow ? 0 : static_cast<size_t>(fy.last - fy.first - 1);
    if (innerRows > 0) {
        const uint32_t* first = top + W;
        k.premulRows(first + s.spanFirst, W, innerRows, n, t.innerSums, t.columnAlpha);
        k.edgeColumns(first, W, innerRows, s.edges, static_cast<size_t>(s.count), t.edgeSums);
    } else {
        std::memset(t.innerSums, 0, n * sizeof(ColumnSum));
        std::memset(t.edgeSums, 0, static_cast<size_t>(s.count) * sizeof(ColumnSum));
    }

    MixedRowJob job;
    job.cols = s.cols;
    job.edgeColumns = t.edgeSums;
    job.count = static_cast<size_t>(s.count);
    job.inner = t.innerSums;
    job.edgeRows = t.edgeRowSums;
    job.alphas = t.columnAlpha;
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
const EdgeColumns* EdgesWithin(const StripColumns& s, StripSums& t, int64_t s0, int64_t s1) {
    if (s0 == s.spanFirst && s1 == s.spanLast + 1) return s.edges;
    for (int32_t x = 0; x < s.count; ++x) {
        EdgeColumns e = s.edges[x];
        if (e.first < s0 || e.first >= s1) e.first = static_cast<int32_t>(s0), e.wFirst = 0;
        if (e.last < s0 || e.last >= s1) e.last = static_cast<int32_t>(s0), e.wLast = 0;
        t.chunkEdges[x] = e;
    }
    return t.chunkEdges;
}

// Adds, for every destination column, the sums of its inner columns within [s0, s1).
void FoldInnerColumns(const StripColumns& s, const ColumnSum* sums, int64_t s0, int64_t s1, uint64_t factor,
                      uint64_t (*totals)[4]) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        for (int64_t j = std::max(c.first + 1, s0), end = std::min(c.last - 1, s1 - 1); j <= end; ++j)
            AddSums(totals[x], sums[j - s0], factor);
    }
}

// Widens each destination column's alpha range by the ranges of its source columns within
// [s0, s1).
void WidenColumnAlphas(const StripColumns& s, const uint32_t* columnAlpha, int64_t s0, int64_t s1, AlphaRange* alpha) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        for (int64_t j = std::max(c.first, s0), end = std::min(c.last, s1 - 1); j <= end; ++j)
            Widen(alpha[x], resample::AlphaWordLo(columnAlpha[j - s0]), resample::AlphaWordHi(columnAlpha[j - s0]));
    }
}

// The destination pixels from a row's totals, its corners included.
void PackTotals(const StripColumns& s, const uint64_t (*totals)[4], const AlphaRange* alpha, uint64_t innerRows,
                uint32_t B0, uint32_t B1, bool singleRow, uint32_t* out) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        const uint64_t* sums = totals[x];
        if (c.empty || sums[3] == 0) {
            out[x] = 0;
            continue;
        }
        const uint64_t a = alpha[x].lo == alpha[x].hi
                               ? alpha[x].lo
                               : resample::Quotient(sums[3] * 255, resample::WeightSum(c, innerRows, B0, B1, singleRow));
        out[x] = resample::PackAverage(sums[0], sums[1], sums[2], sums[3], a);
    }
}

// Adds the two corner pixels of an edge row of weight B.
void AddCorners(const StripColumns& s, uint64_t (*totals)[4], const uint32_t* row, uint32_t B) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        AddCorner(totals[x], row[c.first], std::max(c.wFirst * B, 255u));
        if (!c.single) AddCorner(totals[x], row[c.last], std::max(c.wLast * B, 255u));
    }
}

// Any destination row: footprints taller than a block of rows or strips wider than a span
// are summed block by block and span by span into 64-bit totals.
void GeneralRow(const StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W,
                const Footprint& fy, uint32_t* out) {
    const bool singleRow = fy.first == fy.last;
    const uint64_t innerRows = singleRow ? 0 : static_cast<uint64_t>(fy.last - fy.first - 1);
    const uint32_t* bottom = singleRow ? nullptr : top + (fy.last - fy.first) * W;
    const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
    std::memset(t.totals, 0, static_cast<size_t>(s.count) * sizeof(t.totals[0]));
    std::fill_n(t.alpha, s.count, AlphaRange{});
    for (int64_t s0 = s.spanFirst; s0 <= s.spanLast; s0 += kSpanColumns) {
        const int64_t s1 = std::min(s0 + kSpanColumns, s.spanLast + 1);
        const size_t n = static_cast<size_t>(s1 - s0);
        k.edgeRows(top + s0, (bottom ? bottom : top) + s0, n, std::max(B0, 1u), bottom ? std::max(B1, 1u) : 0,
                   t.edgeRowSums, t.columnAlpha);
        const EdgeColumns* edges = EdgesWithin(s, t, s0, s1);
        for (int64_t i = 1; i < fy.last - fy.first; i += kRowBlock) {
            const int64_t iStop = std::min(i + kRowBlock, fy.last - fy.first);
            const size_t rows = static_cast<size_t>(iStop - i);
            k.premulRows(top + i * W + s0, W, rows, n, t.innerSums, t.columnAlpha);
            k.edgeColumns(top + i * W, W, rows, edges, static_cast<size_t>(s.count), t.edgeSums);
            FoldInnerColumns(s, t.innerSums, s0, s1, 255, t.totals);
            for (int32_t x = 0; x < s.count; ++x) AddSums(t.totals[x], t.edgeSums[x], 1);
        }
        FoldInnerColumns(s, t.edgeRowSums, s0, s1, 1, t.totals);
        WidenColumnAlphas(s, t.columnAlpha, s0, s1, t.alpha);
    }
    AddCorners(s, t.totals, top, B0);
    if (bottom) AddCorners(s, t.totals, bottom, B1);
    PackTotals(s, t.totals, t.alpha, innerRows, B0, B1, singleRow, out);
}

// Source rows [first, last] whole, as one sequential sweep: the strips then read them from
// the cache. Read strip by strip from memory, a large source costs several times more, one
// span-wide piece per row and page being all the hardware prefetcher sees.
void SweepRows(const uint32_t* src, int64_t W, int64_t first, int64_t last) {
    const char* p = reinterpret_cast<const char*>(src + first * W);
    const char* const end = reinterpret_cast<const char*>(src + (last + 1) * W);
    for (; p < end; p += 64) resample::Prefetch(p);
}

void AreaAverage(const Kernels& k, CImage32& destination, const CImage32& source, int32_t w, int32_t h,
                 int64_t xStep, int64_t yStep) {
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
    resample::StripTables tables;
    StripColumns s{};
    s.cols = tables.cols;
    s.edges = tables.edges;
    s.weights = tables.weights;
    StripSums t;
    for (int32_t y0 = 0; y0 < h; y0 += group) {
        const int32_t y1 = std::min(h, y0 + group);
        if (large) {
            const Footprint a = MakeFootprint(yStep, y0, H), b = MakeFootprint(yStep, y1 - 1, H);
            if (a.first <= b.last) SweepRows(src, W, std::max<int64_t>(a.first, 0), std::min(b.last, H - 1));
        }
        for (int32_t xa = 0; xa < w; xa += s.count) {
            resample::BuildStrip(s, xa, w, xStep, W);
            ClearSpareColumns(s, t);
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

// Fills the strip's column tables from destination column xa on.
void BuildStrip(StripColumns& s, int32_t xa, int32_t w, int64_t xStep, int64_t W) {
    s.count = 0;
    s.xa = xa;
    s.weightsValid = false;
    s.covered = false;
    s.spanFirst = s.spanLast = 0;
    s.alignedBlock = 0;
    s.narrow = true;
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
        if (s.alignedBlock >= 0) {
            const bool aligned = !c.empty && (c.single ? c.wFirst == 0 : c.wFirst == 255 && c.wLast == 0);
            s.alignedBlock = aligned ? std::max<int32_t>(s.alignedBlock, static_cast<int32_t>(c.last - c.first)) : -1;
        }
        s.narrow = s.narrow && !c.empty && c.last - c.first <= 1;
        s.cols[s.count] = c;
        EdgeColumns& e = s.edges[s.count];
        e.first = c.empty ? 0 : static_cast<int32_t>(c.first);
        e.last = c.empty ? 0 : static_cast<int32_t>(c.last);
        e.wFirst = c.empty ? 0 : std::max(c.wFirst, 1u);
        e.wLast = c.empty || c.single ? 0 : std::max(c.wLast, 1u);
        ++s.count;
    }
}

void StripRow(StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W, const Footprint& fy,
              uint32_t* row) {
    uint32_t* out = row + s.xa;
    if (!s.covered || fy.first > fy.last)
        std::fill_n(out, s.count, 0u);
    else if (s.narrow && fy.last - fy.first <= 1)
        k.narrowRow({s.edges, static_cast<size_t>(s.count), top, fy.first == fy.last ? nullptr : top + W,
                     static_cast<uint32_t>(fy.wFirst), static_cast<uint32_t>(fy.wLast), W, out});
    else if (s.spanLast - s.spanFirst < kSpanColumns && fy.last - fy.first - 1 <= kRowBlock) {
        // Rows of one alpha sum plain channels, cheaper than any weighting.
        if (!TryUniformRow(s, t, k, top, W, fy, out) && !TryAlignedRow(s, t, k, top, W, fy, out))
            MixedRow(s, t, k, top, W, fy, out);
    } else if (!TryAlignedRow(s, t, k, top, W, fy, out)) {
        GeneralRow(s, t, k, top, W, fy, out);
    }
}

void StartRowTotals(const StripColumns& s, RowTotals& r) {
    std::memset(r.totals, 0, static_cast<size_t>(s.count) * sizeof(r.totals[0]));
    std::fill_n(r.alpha, s.count, AlphaRange{});
}

void AddEdgeRow(const StripColumns& s, StripSums& t, const Kernels& k, RowTotals& r, const uint32_t* row, uint32_t B) {
    if (!s.covered) return;
    for (int64_t s0 = s.spanFirst; s0 <= s.spanLast; s0 += kSpanColumns) {
        const int64_t s1 = std::min(s0 + kSpanColumns, s.spanLast + 1);
        k.edgeRows(row + s0, row + s0, static_cast<size_t>(s1 - s0), std::max(B, 1u), 0, t.edgeRowSums, t.columnAlpha);
        FoldInnerColumns(s, t.edgeRowSums, s0, s1, 1, r.totals);
        WidenColumnAlphas(s, t.columnAlpha, s0, s1, r.alpha);
    }
    AddCorners(s, r.totals, row, B);
}

void AddInnerRows(const StripColumns& s, StripSums& t, const Kernels& k, RowTotals& r, const uint32_t* first,
                  int64_t W, size_t rows) {
    if (!s.covered) return;
    for (int64_t s0 = s.spanFirst; s0 <= s.spanLast; s0 += kSpanColumns) {
        const int64_t s1 = std::min(s0 + kSpanColumns, s.spanLast + 1);
        const size_t n = static_cast<size_t>(s1 - s0);
        std::fill_n(t.columnAlpha, n, 0u);  // empty ranges, widened by the rows
        k.premulRows(first + s0, W, rows, n, t.innerSums, t.columnAlpha);
        k.edgeColumns(first, W, rows, EdgesWithin(s, t, s0, s1), static_cast<size_t>(s.count), t.edgeSums);
        FoldInnerColumns(s, t.innerSums, s0, s1, 255, r.totals);
        for (int32_t x = 0; x < s.count; ++x) AddSums(r.totals[x], t.edgeSums[x], 1);
        WidenColumnAlphas(s, t.columnAlpha, s0, s1, r.alpha);
    }
}

void FinishRowTotals(const StripColumns& s, const RowTotals& r, const Footprint& fy, uint32_t* row) {
    const bool singleRow = fy.first == fy.last;
    const uint64_t innerRows = singleRow ? 0 : static_cast<uint64_t>(fy.last - fy.first - 1);
    PackTotals(s, r.totals, r.alpha, innerRows, static_cast<uint32_t>(fy.wFirst), static_cast<uint32_t>(fy.wLast),
               singleRow, row + s.xa);
}

void PointRow(uint32_t* out, const uint32_t* source, int64_t W, int32_t w, int64_t xStep) {
    if (!source) {
        std::fill_n(out, w, 0u);
    } else if (xStep == 65536) {
        const int64_t n = std::min<int64_t>(w, W);
        std::memcpy(out, source, static_cast<size_t>(n) * 4);
        std::fill(out + n, out + w, 0u);
    } else {
        int64_t fx = xStep / 2;
        for (int32_t x = 0; x < w; ++x, fx += xStep) out[x] = (fx >> 16) < W ? source[fx >> 16] : 0u;
    }
}

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
