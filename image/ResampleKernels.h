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
// free of overflow above. step and index must not be negative.
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

struct Kernels {
    // Widens `range` by the alphas of row[0..n).
    void (*alphaRange)(const uint32_t* row, size_t n, AlphaRange& range);
    // sums[c] += the four bytes of row[c].
    void (*plainRow)(const uint32_t* row, size_t n, PlainSum* sums);
    // sums[c] += (b*a, g*a, r*a, a) of row[c].
    void (*premulRow)(const uint32_t* row, size_t n, ColumnSum* sums);
    // Per column alpha range over one more row: alpha in the top byte of lo[c] and hi[c]
    // (the other bytes are unspecified).
    void (*alphaColumns)(const uint32_t* row, size_t n, uint32_t* lo, uint32_t* hi);
    // For each of n destination columns, its two edge pixels of one inner row:
    // sums[x] += (b,g,r,1) * EdgeShare(a * w) for both. A sum holds at most 128 rows.
    void (*edgeColumns)(const uint32_t* row, const EdgeColumns* cols, size_t n, ColumnSum* sums);
    // The inner-column pixels of an edge row: totals += (b,g,r,1) * EdgeShare(a * w) over p[0..n).
    void (*edgeRun)(const uint32_t* p, size_t n, uint32_t w, uint64_t totals[4], AlphaRange& range);
};

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
// addressing rule. Steps and coordinates must not be negative (0 is returned otherwise).
uint32_t AreaSampleAt(const CImage32& source, int64_t xStep, int64_t yStep, int64_t x, int64_t y);
}  // namespace resample
}  // namespace tarn
