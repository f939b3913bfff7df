// Point sampling for whole multiples, the alpha-weighted area average otherwise.
//
// The area average runs strip by strip: a strip is up to kStripColumns destination columns
// whose footprints span at most kSpanColumns source columns, so every table lives on the
// stack. Column footprints are computed once per strip, row footprints once per destination
// row. For each destination row the inner rows of the footprint are summed down the columns
// (the hot loop, contiguous and branch-free), then each destination column adds its inner
// column sums, its two edge columns, its two edge rows and its four corners (the weights are
// explained in ResampleKernels.h). All sums are exact, so the result does not depend on the
// order of summation.
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
using resample::MakeFootprint;

constexpr int32_t kStripColumns = 256;
constexpr int64_t kSpanColumns = 1024;
// Rows summed into the 32-bit lanes of the kernels before they are widened.
constexpr int64_t kRowBlock = 128;

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

// A destination column of the current strip.
struct StripColumn {
    int64_t first;
    int64_t last;
    int64_t inner;  // columns strictly between first and last
    uint32_t wFirst;
    uint32_t wLast;
    bool single;
    bool empty;
};

// Everything the area average keeps per strip; about 50 KiB, on the stack.
struct StripState {
    StripColumn cols[kStripColumns];
    EdgeColumns edges[kStripColumns];
    uint64_t totals[kStripColumns][4];  // b, g, r, v
    AlphaRange alpha[kStripColumns];
    ColumnSum edgeSums[kStripColumns];
    ColumnSum columnSums[kSpanColumns];
    uint32_t columnLo[kSpanColumns];
    uint32_t columnHi[kSpanColumns];
    int32_t count;
    bool covered;  // some column of the strip lies inside the source
    int64_t spanFirst;
    int64_t spanLast;
};

inline void Widen(AlphaRange& r, uint32_t lo, uint32_t hi) {
    r.lo = std::min(r.lo, lo);
    r.hi = std::max(r.hi, hi);
}

inline void AddCorner(uint32_t p, uint32_t C, uint64_t totals[4], AlphaRange& range) {
    const uint32_t a = p >> 24, v = Div255(a * C);
    totals[0] += (p & 255) * v;
    totals[1] += ((p >> 8) & 255) * v;
    totals[2] += ((p >> 16) & 255) * v;
    totals[3] += v;
    Widen(range, a, a);
}

// Fills the strip's column tables from destination column xa on; returns how many it took.
int32_t BuildStrip(StripState& s, int32_t xa, int32_t w, int64_t xStep, int64_t W) {
    s.count = 0;
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
    return s.count;
}

// Sums the inner rows [i, iStop) of the current destination row into the strip's totals.
void AddInnerRows(StripState& s, const Kernels& k, const uint32_t* src, int64_t W, int64_t i, int64_t iStop) {
    for (int64_t s0 = s.spanFirst; s0 <= s.spanLast; s0 += kSpanColumns) {
        const int64_t s1 = std::min(s0 + kSpanColumns, s.spanLast + 1);
        const size_t n = static_cast<size_t>(s1 - s0);
        std::memset(s.columnSums, 0, n * sizeof(ColumnSum));
        AlphaRange block;
        for (int64_t r = i; r < iStop; ++r) k.innerRow(src + r * W + s0, n, s.columnSums, block);
        const bool uniform = block.lo == block.hi;
        if (!uniform) {
            std::fill_n(s.columnLo, n, 0xFFFFFFFFu);
            std::fill_n(s.columnHi, n, 0u);
            for (int64_t r = i; r < iStop; ++r) k.alphaColumns(src + r * W + s0, n, s.columnLo, s.columnHi);
        }
        for (int32_t x = 0; x < s.count; ++x) {
            const StripColumn& c = s.cols[x];
            if (c.empty) continue;
            const int64_t lo = std::max(c.first, s0), hi = std::min(c.last, s1 - 1);
            if (lo > hi) continue;
            if (uniform) {
                Widen(s.alpha[x], block.lo, block.hi);
            } else {
                for (int64_t j = lo; j <= hi; ++j) Widen(s.alpha[x], s.columnLo[j - s0] >> 24, s.columnHi[j - s0] >> 24);
            }
            uint64_t b = 0, g = 0, r = 0, a = 0;
            for (int64_t j = std::max(c.first + 1, s0), end = std::min(c.last - 1, s1 - 1); j <= end; ++j) {
                const ColumnSum& cs = s.columnSums[j - s0];
                b += cs.b;
                g += cs.g;
                r += cs.r;
                a += cs.a;
            }
            uint64_t* t = s.totals[x];
            t[0] += 255 * b;
            t[1] += 255 * g;
            t[2] += 255 * r;
            t[3] += 255 * a;
        }
    }
    std::memset(s.edgeSums, 0, static_cast<size_t>(s.count) * sizeof(ColumnSum));
    for (int64_t r = i; r < iStop; ++r) k.edgeColumns(src + r * W, s.edges, static_cast<size_t>(s.count), s.edgeSums);
    for (int32_t x = 0; x < s.count; ++x) {
        s.totals[x][0] += s.edgeSums[x].b;
        s.totals[x][1] += s.edgeSums[x].g;
        s.totals[x][2] += s.edgeSums[x].r;
        s.totals[x][3] += s.edgeSums[x].a;
    }
}

// Adds one edge row of weight B: its inner columns through the kernel, its corners directly.
void AddEdgeRow(StripState& s, const Kernels& k, const uint32_t* row, uint32_t B) {
    const uint32_t w = std::max(B, 1u);
    for (int32_t x = 0; x < s.count; ++x) {
        const StripColumn& c = s.cols[x];
        if (c.empty) continue;
        if (c.inner > 0) k.edgeRun(row + c.first + 1, static_cast<size_t>(c.inner), w, s.totals[x], s.alpha[x]);
        AddCorner(row[c.first], std::max(c.wFirst * B, 255u), s.totals[x], s.alpha[x]);
        if (!c.single) AddCorner(row[c.last], std::max(c.wLast * B, 255u), s.totals[x], s.alpha[x]);
    }
}

// Sum of the weights C of one edge row of weight B across column c.
inline uint64_t EdgeRowWeight(const StripColumn& c, uint32_t B) {
    uint64_t sum = static_cast<uint64_t>(c.inner) * std::max(255 * B, 255u) + std::max(c.wFirst * B, 255u);
    if (!c.single) sum += std::max(c.wLast * B, 255u);
    return sum;
}

void AreaAverage(CImage32& destination, const CImage32& source, int32_t w, int32_t h, int64_t xStep,
                 int64_t yStep) {
    const Kernels& k = resample::BestKernels();
    const int64_t W = source.Width(), H = source.Height(), dW = destination.Width();
    const uint32_t* src = source.Pixels();
    uint32_t* dst = destination.Pixels();
    StripState s;
    for (int32_t xa = 0; xa < w; xa += s.count) {
        BuildStrip(s, xa, w, xStep, W);
        for (int32_t y = 0; y < h; ++y) {
            uint32_t* out = dst + y * dW + xa;
            const Footprint fy = MakeFootprint(yStep, y, H);
            if (!s.covered || fy.first > fy.last) {
                std::fill_n(out, s.count, 0u);
                continue;
            }
            std::memset(s.totals, 0, static_cast<size_t>(s.count) * sizeof(s.totals[0]));
            std::fill_n(s.alpha, s.count, AlphaRange{});
            const bool singleRow = fy.first == fy.last;
            const int64_t innerRows = singleRow ? 0 : fy.last - fy.first - 1;
            for (int64_t i = fy.first + 1; i < fy.last; i += kRowBlock)
                AddInnerRows(s, k, src, W, i, std::min(i + kRowBlock, fy.last));
            const uint32_t B0 = static_cast<uint32_t>(fy.wFirst), B1 = static_cast<uint32_t>(fy.wLast);
            AddEdgeRow(s, k, src + fy.first * W, B0);
            if (!singleRow) AddEdgeRow(s, k, src + fy.last * W, B1);

            for (int32_t x = 0; x < s.count; ++x) {
                const StripColumn& c = s.cols[x];
                const uint64_t* t = s.totals[x];
                if (c.empty || t[3] == 0) {
                    out[x] = 0;
                    continue;
                }
                uint64_t alpha = s.alpha[x].lo;
                if (s.alpha[x].lo != s.alpha[x].hi) {
                    uint64_t columnWeight = std::max(c.wFirst, 1u);
                    if (!c.single) columnWeight += 255 * static_cast<uint64_t>(c.inner) + std::max(c.wLast, 1u);
                    uint64_t sumC = static_cast<uint64_t>(innerRows) * 255 * columnWeight + EdgeRowWeight(c, B0);
                    if (!singleRow) sumC += EdgeRowWeight(c, B1);
                    alpha = t[3] * 255 / sumC;
                }
                out[x] = static_cast<uint32_t>(((alpha & 255) << 24) | ((t[2] / t[3] & 255) << 16) |
                                               ((t[1] / t[3] & 255) << 8) | (t[0] / t[3] & 255));
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

bool Resample(CImage32& destination, const CImage32& source, int32_t width, int32_t height) {
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
        AreaAverage(destination, source, w, h, xStep, yStep);
    return true;
}

}  // namespace tarn
