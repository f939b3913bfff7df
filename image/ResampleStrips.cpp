// The strips of the area average: their column tables, and a destination row of a strip
// whose footprint rows are all at hand, by the cheapest kind of row that fits it: one alpha
// per part (plain sums), footprints aligned to source pixels, any alphas within one block and
// span, and otherwise the general row (ResampleRowTotals.cpp).
#include "image/ResampleStrips.h"

#include <algorithm>
#include <cstring>

#include "image/ResampleKernels.h"

namespace tarn::resample {
namespace {

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

}  // namespace

// The strip's spare columns past the span, read (and ignored) by the mixed-row kernels.
void ClearSpareColumns(const StripColumns& s, StripSums& t) {
    const size_t n = static_cast<size_t>(s.spanLast - s.spanFirst + 1);
    if (n <= static_cast<size_t>(kSpanColumns)) {
        std::memset(t.innerSums + n, 0, 4 * sizeof(ColumnSum));
        std::memset(t.edgeRowSums + n, 0, 4 * sizeof(ColumnSum));
    }
}

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
        // Rows of one alpha sum plain channels, cheaper than any weighting but blocks four wide
        // (blocks of 16: 7.7 against 10.9 ms for an opaque 4096² → 256²).
        const bool fourWide = s.alignedBlock == 4;
        if (!(fourWide && TryAlignedRow(s, t, k, top, W, fy, out)) && !TryUniformRow(s, t, k, top, W, fy, out) &&
            !TryAlignedRow(s, t, k, top, W, fy, out))
            MixedRow(s, t, k, top, W, fy, out);
    } else if (!TryAlignedRow(s, t, k, top, W, fy, out)) {
        GeneralRow(s, t, k, top, W, fy, out);
    }
}

void PointRow(uint32_t* out, const uint32_t* source, int64_t W, int32_t w, int64_t xStep) {
    if (!source) {
        std::fill_n(out, w, 0u);
    } else if (xStep == 65536) {
        const int64_t n = std::min<int64_t>(w, W);
        std::memcpy(out, source, static_cast<size_t>(n) * 4);
        std::fill(out + n, out + w, 0u);
    } else if (xStep == 32768) {
        // Doubling: column x reads source column x / 2 exactly; the loop vectorizes.
        const int64_t n = std::min<int64_t>(w / 2, W);
        for (int64_t i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = source[i];
        for (int64_t x = 2 * n; x < w; ++x) out[x] = x / 2 < W ? source[x / 2] : 0u;
    } else {
        int64_t fx = xStep / 2;
        for (int32_t x = 0; x < w; ++x, fx += xStep) out[x] = (fx >> 16) < W ? source[fx >> 16] : 0u;
    }
}

}  // namespace tarn::resample
