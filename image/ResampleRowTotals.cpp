// Destination rows summed into 64-bit totals: footprints taller than a block of rows or strips
// wider than a span, summed block by block and span by span, and footprints too tall to keep,
// summed as their rows go by. All sums are exact integers, so the order does not matter.
#include <algorithm>
#include <cstring>

#include "image/ResampleKernels.h"
#include "image/ResampleStrips.h"

namespace tarn::resample {
namespace {

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

// Adds, for every destination column, the sums of its inner columns within [s0, s1): summed
// first (32-bit lanes into 64 bits, a loop that vectorizes), multiplied once.
void FoldInnerColumns(const StripColumns& s, const ColumnSum* sums, int64_t s0, int64_t s1, uint64_t factor,
                      uint64_t (*totals)[4]) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        uint64_t b = 0, g = 0, r = 0, a = 0;
        for (int64_t j = std::max(c.first + 1, s0), end = std::min(c.last - 1, s1 - 1); j <= end; ++j) {
            const ColumnSum& t = sums[j - s0];
            b += t.b, g += t.g, r += t.r, a += t.a;
        }
        totals[x][0] += factor * b;
        totals[x][1] += factor * g;
        totals[x][2] += factor * r;
        totals[x][3] += factor * a;
    }
}

// Widens each destination column's alpha range by the ranges of its source columns within
// [s0, s1), merged first as alpha words.
void WidenColumnAlphas(const StripColumns& s, const uint32_t* columnAlpha, int64_t s0, int64_t s1, AlphaRange* alpha) {
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        // The two bytes of the words merge apart: two maximum reductions, which vectorize.
        uint32_t high = 0, low = 0;
        for (int64_t j = std::max(c.first, s0), end = std::min(c.last, s1 - 1); j <= end; ++j) {
            high = std::max(high, columnAlpha[j - s0] & 0xFF00u);
            low = std::max(low, columnAlpha[j - s0] & 0xFFu);
        }
        Widen(alpha[x], resample::AlphaWordLo(high | low), resample::AlphaWordHi(high | low));
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

}  // namespace

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

}  // namespace tarn::resample
