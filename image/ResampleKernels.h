// Internal to resampling: the footprint arithmetic of the area average and the row kernels
// that the strip driver in Resample.cpp runs over the source.
//
// Weights of the area average. A destination pixel covers source columns first..last and rows
// first..last; each column has a weight A and each row a weight B in 1/255 units. Pixel (j, i)
// then weighs C = max(A * B, 255) and contributes v = Div255(a * C) of its colour, except for
// an inner pixel (neither first nor last in either direction), which contributes exactly
// v = 255 * a. Two consequences the kernels rely on:
// - inner pixels sum as plain alpha-weighted colour ("premultiplied"), times 255 once at the end;
// - an edge pixel of an inner row (B = 255) or of an inner column (A = 255) has C = 255 * w with
//   w = max(weight, 1), and Div255(255 * m) = m - (m >= 258) for every m = a * w <= 65025,
//   so it needs no 32-bit product: see EdgeShare.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tarn::resample {

// Rounded t / 255, the rounding the area average was defined with. Exact up to t = 65535
// and a slight underestimate above, which is part of the results.
constexpr uint32_t Div255(uint32_t t) { return (t + 1 + ((t + 1) >> 8)) >> 8; }

// Asks for the cache line at p ahead of use; reads nothing, so any address will do.
inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// Div255(255 * m) for m = a * w, a and w at most 255.
constexpr uint32_t EdgeShare(uint32_t m) { return m - (m >= 258u ? 1u : 0u); }

// One destination column (or row) of the area average in source coordinates.
struct Footprint {
    int64_t first;   // first source column
    int64_t last;    // last source column, inclusive; below `first` when nothing is covered
    int32_t wFirst;  // weight of `first`, the only weight when first == last
    int32_t wLast;   // weight of `last` when it differs from `first`
};

// Footprint of destination index `index` for a 16.16 step, over a source of `size` pixels.
// The coordinates are 64-bit: identical to 32-bit arithmetic below 32768 source pixels and
// free of overflow above. step must not be negative; a negative index gives a footprint that
// starts before the source (first < 0), which callers clip.
inline Footprint MakeFootprint(int64_t step, int64_t index, int64_t size) {
    const int64_t s0 = step * index;
    const int64_t s1 = s0 + step;
    const int32_t f0 = static_cast<int32_t>((s0 >> 8) & 255);
    const int32_t f1 = static_cast<int32_t>((s1 >> 8) & 255);
    Footprint f;
    f.first = s0 >> 16;
    f.last = std::min(s1 >> 16, size - 1);
    if (f.first == f.last) {
        f.wFirst = f1 - f0;
        // Only when the end was clamped to the last source pixel can f1 lie below f0; the
        // pixel then weighs the part of the footprint that lies inside the source.
        if (f.wFirst < 0) f.wFirst = 255 - f0;
        f.wLast = 0;
    } else {
        f.wFirst = 255 - f0;
        f.wLast = f1;
    }
    return f;
}

// n / d rounded down, d > 0. Below 2^53 the correctly rounded double quotient cannot reach
// the next integer (that would need n * 2^-53 >= 1), and it is much faster than a 64-bit
// division.
inline uint64_t Quotient(uint64_t n, uint64_t d) {
    return n < (uint64_t{1} << 53) ? static_cast<uint64_t>(static_cast<double>(n) / static_cast<double>(d)) : n / d;
}

// The destination pixel from the weighted colour sums and their total weight v > 0; each
// channel keeps its low 8 bits.
inline uint32_t PackAverage(uint64_t b, uint64_t g, uint64_t r, uint64_t v, uint64_t alpha) {
    return static_cast<uint32_t>(((alpha & 255) << 24) | ((Quotient(r, v) & 255) << 16) |
                                 ((Quotient(g, v) & 255) << 8) | (Quotient(b, v) & 255));
}

// Alpha-weighted colour sums of a group of source pixels, lanes in pixel byte order.
struct ColumnSum {
    uint32_t b, g, r, a;
};

// Plain channel sums of up to 257 pixels, lanes in pixel byte order.
struct PlainSum {
    uint16_t b, g, r, a;
};

// Per destination column: where its edge columns sit in a source row and their weights
// max(A, 1) for inner rows (0 for a missing second edge, so it adds nothing).
struct EdgeColumns {
    int32_t first;
    int32_t last;
    uint32_t wFirst;
    uint32_t wLast;
};

struct AlphaRange {
    uint32_t lo = 255;
    uint32_t hi = 0;
};

// An alpha range in one word that merges by a byte-wise maximum: the highest alpha in bits
// 8-15, 255 minus the lowest in bits 0-7. 0 is the empty range.
constexpr uint32_t AlphaWord(uint32_t pixel) { return ((pixel >> 16) & 0xFF00u) | (255u - (pixel >> 24)); }
constexpr uint32_t MergeAlphaWords(uint32_t x, uint32_t y) {
    return std::max(x & 0xFF00u, y & 0xFF00u) | std::max(x & 0xFFu, y & 0xFFu);
}
constexpr uint32_t AlphaWordLo(uint32_t w) { return 255u - (w & 0xFFu); }
constexpr uint32_t AlphaWordHi(uint32_t w) { return (w >> 8) & 0xFFu; }

// A destination column of a strip, in source columns.
struct StripColumn {
    int64_t first;
    int64_t last;
    int64_t inner;  // columns strictly between first and last
    uint32_t wFirst;
    uint32_t wLast;
    bool single;  // first == last
    bool empty;   // outside the source: the pixel is 0
};

// Sum of the weights C over a footprint of `innerRows` inner rows and edge rows of weights
// B0 and (unless it has one row) B1.
inline uint64_t EdgeRowWeightSum(const StripColumn& c, uint32_t B) {
    const uint64_t last = c.single ? 0 : std::max(c.wLast * B, 255u);
    return static_cast<uint64_t>(c.inner) * std::max(255 * B, 255u) + std::max(c.wFirst * B, 255u) + last;
}
inline uint64_t WeightSum(const StripColumn& c, uint64_t innerRows, uint32_t B0, uint32_t B1, bool singleRow) {
    const uint64_t columns =
        std::max(c.wFirst, 1u) + (c.single ? 0 : 255 * static_cast<uint64_t>(c.inner) + std::max(c.wLast, 1u));
    return innerRows * 255 * columns + EdgeRowWeightSum(c, B0) + (singleRow ? 0 : EdgeRowWeightSum(c, B1));
}

// Shares v of the edge pixels of one destination column when the inner rows, the first row
// and the last row each have one alpha. 0 for pixels the footprint does not have.
struct EdgeWeights {
    uint32_t innerFirst;  // first column, inner rows
    uint32_t innerLast;   // last column, inner rows
    uint32_t topFirst;    // the corners
    uint32_t topLast;
    uint32_t bottomFirst;
    uint32_t bottomLast;
};

// One destination row of a strip whose inner rows (one block, summed in `plain`) and edge
// rows each have a single alpha: every pixel's share is then known from its position, and
// a destination pixel is a weighted sum of nine region sums.
struct UniformRowJob {
    const StripColumn* cols;
    const EdgeWeights* weights;
    size_t count;
    const PlainSum* plain;  // inner rows, per source column from spanFirst; zero if none
    int64_t spanFirst;
    const uint32_t* top;     // first row of the footprint
    const uint32_t* bottom;  // last row, or null when the footprint has one row
    uint64_t innerRows;
    uint32_t innerShare;   // 255 * alpha of the inner rows
    uint32_t topShare;     // share of the first row's inner-column pixels
    uint32_t bottomShare;  // likewise for the last row
    int32_t alpha;         // the one alpha of the whole footprint, or -1 when the parts differ
    uint32_t B0, B1;       // row weights, for the weight sum when alphas differ
    uint32_t* out;
};

// One destination row of a strip with one block of inner rows and one span, of any alphas.
// The inner rows and the edge rows were summed per source column; a destination pixel adds
// the sums of its inner columns, its edge columns over the inner rows and its corners.
struct MixedRowJob {
    const StripColumn* cols;
    const ColumnSum* edgeColumns;  // per destination column: its edge columns over the inner rows
    size_t count;
    // Per source column from spanFirst: (b*a, g*a, r*a, a) over the inner rows, and
    // (b,g,r,1) * share over both edge rows; both readable (any values) 4 columns past the span.
    const ColumnSum* inner;
    const ColumnSum* edgeRows;
    const uint32_t* alphas;     // per source column: alpha range over all rows (AlphaWord)
    int64_t spanFirst;
    const uint32_t* top;     // first row of the footprint
    const uint32_t* bottom;  // last row, or null when the footprint has one row
    uint64_t innerRows;
    uint32_t B0, B1;  // row weights of the first and last row
    uint32_t* out;
};

// One destination row of a strip whose footprints all start on a source pixel and end with
// a boundary pixel of weight 0 (what whole-number ratios give): every footprint is a block
// of full pixels plus the row below it and the column right of it, which count 1/255 each.
// Pixel weights are then v = 255a inside the block, 255a - [a >= 2] on its first row and
// first column (EdgeShare(255a)), and a on the boundary, so with P = (b*a, g*a, r*a, a) and
// G = [a >= 2] * (b, g, r, 1) a destination pixel sums to
//   255 * sum(P, block) - sum(G, first row and first column of the block) + sum(P, boundary).
// The sums fit 32 bits while 255 * blockColumns * blockRows + blockColumns + blockRows + 1
// <= kMostAlignedWeight (a 16 x 16 block does).
constexpr uint32_t kMostAlignedWeight = 66051;  // 2^32 / 65025
struct AlignedRowJob {
    const StripColumn* cols;  // the block of column x is [first, last), its boundary last
    size_t count;
    const uint32_t* top;     // the footprint's first source row (column 0)
    const uint32_t* bottom;  // its boundary row, blockRows rows below (top itself when 0)
    ptrdiff_t stride;        // from one source row to the next
    size_t blockRows;
    int64_t spanFirst;  // source columns the strip reads
    size_t spanCount;
    // Per source column of the span, written by the kernel: T = 255 * P(block rows) - G(first
    // row) + P(boundary row), U = P(all rows), the alpha range (AlphaWord) of all rows. Each
    // readable 4 columns past the span.
    ColumnSum* blockSums;
    ColumnSum* boundarySums;
    uint32_t* alphas;
    uint32_t* out;
};

// One destination row of a strip whose footprints cover at most two source columns and two
// source rows (enlargements): every pixel of a footprint is an edge pixel of weight
// C = max(A * B, 255) and share v = Div255(a * C), and every sum fits 32 bits.
struct NarrowRowJob {
    const EdgeColumns* cols;  // wLast = 0: the footprint has one column
    size_t count;
    const uint32_t* top;     // the footprint's first source row
    const uint32_t* bottom;  // its last row, or null when it has one row
    uint32_t B0, B1;         // row weights
    int64_t width;           // of the source rows
    uint32_t* out;
};

struct Kernels {
    // Widens `range` by the alphas of row[0..n).
    void (*alphaRange)(const uint32_t* row, size_t n, AlphaRange& range);
    // Over `rows` rows (1 to 128), row r at first + r * stride: sums[c] = the totals of the four
    // bytes of column c; widens `range` by the alphas.
    void (*plainRows)(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, PlainSum* sums, AlphaRange& range);
    // Over `rows` rows (1 to 128), row r at first + r * stride: sums[c] = the total of
    // (b*a, g*a, r*a, a) of column c; widens the column alpha ranges alphas[c].
    void (*premulRows)(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, ColumnSum* sums,
                       uint32_t* alphas);
    // The two edge rows of weights wTop, wBottom (max(B, 1); 0 leaves a row out):
    // sums[c] = (b,g,r,1) * EdgeShare(a * w) of top[c] plus that of bottom[c]; alphas[c] starts
    // as the range of the two pixels.
    void (*edgeRows)(const uint32_t* top, const uint32_t* bottom, size_t n, uint32_t wTop, uint32_t wBottom,
                     ColumnSum* sums, uint32_t* alphas);
    // Over `rows` rows (1 to 128) as above, for each of n destination columns: sums[x] = the
    // total of (b,g,r,1) * EdgeShare(a * w) of its two edge pixels.
    void (*edgeColumns)(const uint32_t* first, ptrdiff_t stride, size_t rows, const EdgeColumns* cols, size_t n,
                        ColumnSum* sums);
    // Write the destination pixels of a job.
    void (*uniformRow)(const UniformRowJob& job);
    void (*mixedRow)(const MixedRowJob& job);
    void (*alignedRow)(const AlignedRowJob& job);
    void (*narrowRow)(const NarrowRowJob& job);
    // Optional (null in a set without it): destination pixels 0, 1, ... of a whole row whose
    // blocks are all four columns wide from source column 0 (job.cols null, spanFirst 0, the
    // span the whole source row); returns how many it wrote, the rest left to the strips.
    size_t (*fourWideRow)(const AlignedRowJob& job);
};

void NarrowRowScalar(const NarrowRowJob& job);
void NarrowRowAvx2(const NarrowRowJob& job);

// Sum of the weights C of an aligned footprint: 65025 per block pixel, 255 per boundary pixel.
inline uint32_t AlignedWeightSum(uint64_t blockColumns, uint64_t blockRows) {
    return static_cast<uint32_t>(65025 * blockColumns * blockRows + 255 * (blockColumns + blockRows + 1));
}
void AlignedRowScalar(const AlignedRowJob& job);
void UniformRowAvx2(const UniformRowJob& job);
void MixedRowAvx2(const MixedRowJob& job);
void AlignedRowAvx2(const AlignedRowJob& job);
size_t FourWideRowAvx2(const AlignedRowJob& job);

const Kernels& ScalarKernels();
// The fastest kernels this processor runs; every set gives the same results.
const Kernels& BestKernels();
// Every set this processor runs, for tests and benchmarks (scalar first).
size_t AvailableKernels(const Kernels** out, size_t capacity, const char** names);

}  // namespace tarn::resample

namespace tarn {
class CImage32;
namespace resample {
// One pixel of the area average computed directly, pixel by pixel, through the pixel
// addressing rule, pixels outside the source counting as 0. A negative step gives 0.
uint32_t AreaSampleAt(const CImage32& source, int64_t xStep, int64_t yStep, int64_t x, int64_t y);
// Resample with a given kernel set, so that tests can compare every set.
bool ResampleWith(const Kernels& kernels, CImage32& destination, const CImage32& source, int32_t width,
                  int32_t height);
}  // namespace resample
}  // namespace tarn
