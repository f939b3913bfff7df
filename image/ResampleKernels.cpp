// Portable row kernels of the area average, and the choice of the fastest set at run time.
#include "image/ResampleKernels.h"

#include "platform/Platform.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TARN_RESAMPLE_X86 1
#else
#define TARN_RESAMPLE_X86 0
#endif

namespace tarn::resample {

#if TARN_RESAMPLE_X86
const Kernels& Avx2Kernels();
#endif

namespace {

void AlphaRangeScalar(const uint32_t* row, size_t n, AlphaRange& range) {
    uint32_t lo = range.lo, hi = range.hi;
    for (size_t c = 0; c < n; ++c) {
        lo = std::min(lo, row[c] >> 24);
        hi = std::max(hi, row[c] >> 24);
    }
    range.lo = lo;
    range.hi = hi;
}

void PlainRowsScalar(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, PlainSum* sums,
                     AlphaRange& range) {
    std::fill_n(sums, n, PlainSum{0, 0, 0, 0});
    for (size_t r = 0; r < rows; ++r) {
        const uint32_t* row = first + static_cast<ptrdiff_t>(r) * stride;
        AlphaRangeScalar(row, n, range);
        for (size_t c = 0; c < n; ++c) {
            const uint32_t p = row[c];
            sums[c].b = static_cast<uint16_t>(sums[c].b + (p & 255));
            sums[c].g = static_cast<uint16_t>(sums[c].g + ((p >> 8) & 255));
            sums[c].r = static_cast<uint16_t>(sums[c].r + ((p >> 16) & 255));
            sums[c].a = static_cast<uint16_t>(sums[c].a + (p >> 24));
        }
    }
}

void PremulRowsScalar(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, ColumnSum* sums,
                      uint32_t* alphas) {
    std::fill_n(sums, n, ColumnSum{0, 0, 0, 0});
    for (size_t r = 0; r < rows; ++r) {
        const uint32_t* row = first + static_cast<ptrdiff_t>(r) * stride;
        for (size_t c = 0; c < n; ++c) {
            const uint32_t p = row[c], a = p >> 24;
            sums[c].b += (p & 255) * a;
            sums[c].g += ((p >> 8) & 255) * a;
            sums[c].r += ((p >> 16) & 255) * a;
            sums[c].a += a;
            alphas[c] = MergeAlphaWords(alphas[c], AlphaWord(p));
        }
    }
}

void EdgeRowsScalar(const uint32_t* top, const uint32_t* bottom, size_t n, uint32_t wTop, uint32_t wBottom,
                    ColumnSum* sums, uint32_t* alphas) {
    for (size_t c = 0; c < n; ++c) {
        const uint32_t p = top[c], q = bottom[c];
        const uint32_t sp = EdgeShare((p >> 24) * wTop), sq = EdgeShare((q >> 24) * wBottom);
        sums[c].b = (p & 255) * sp + (q & 255) * sq;
        sums[c].g = ((p >> 8) & 255) * sp + ((q >> 8) & 255) * sq;
        sums[c].r = ((p >> 16) & 255) * sp + ((q >> 16) & 255) * sq;
        sums[c].a = sp + sq;
        alphas[c] = MergeAlphaWords(AlphaWord(p), AlphaWord(q));
    }
}

void EdgeColumnsScalar(const uint32_t* first, ptrdiff_t stride, size_t rows, const EdgeColumns* cols, size_t n,
                       ColumnSum* sums) {
    std::fill_n(sums, n, ColumnSum{0, 0, 0, 0});
    for (size_t r = 0; r < rows; ++r) {
        const uint32_t* row = first + static_cast<ptrdiff_t>(r) * stride;
        for (size_t x = 0; x < n; ++x) {
            const uint32_t p0 = row[cols[x].first], p1 = row[cols[x].last];
            const uint32_t v0 = EdgeShare((p0 >> 24) * cols[x].wFirst);
            const uint32_t v1 = EdgeShare((p1 >> 24) * cols[x].wLast);
            sums[x].b += (p0 & 255) * v0 + (p1 & 255) * v1;
            sums[x].g += ((p0 >> 8) & 255) * v0 + ((p1 >> 8) & 255) * v1;
            sums[x].r += ((p0 >> 16) & 255) * v0 + ((p1 >> 16) & 255) * v1;
            sums[x].a += v0 + v1;
        }
    }
}

// v * (b, g, r) of one pixel into t.
inline void AddPixel(uint64_t t[3], uint32_t p, uint64_t v) {
    t[0] += (p & 255) * v;
    t[1] += ((p >> 8) & 255) * v;
    t[2] += ((p >> 16) & 255) * v;
}

void UniformRowScalar(const UniformRowJob& job) {
    const bool oneRow = job.bottom == nullptr;
    for (size_t x = 0; x < job.count; ++x) {
        const StripColumn& c = job.cols[x];
        if (c.empty) {
            job.out[x] = 0;
            continue;
        }
        const EdgeWeights& w = job.weights[x];
        const PlainSum* plain = job.plain - job.spanFirst;
        uint64_t inner[3] = {0, 0, 0}, top[3] = {0, 0, 0}, bottom[3] = {0, 0, 0};
        for (int64_t j = c.first + 1; j < c.last; ++j) {
            inner[0] += plain[j].b;
            inner[1] += plain[j].g;
            inner[2] += plain[j].r;
            AddPixel(top, job.top[j], 1);
            if (!oneRow) AddPixel(bottom, job.bottom[j], 1);
        }
        uint64_t t[3];
        for (int k = 0; k < 3; ++k) t[k] = job.innerShare * inner[k] + job.topShare * top[k] + job.bottomShare * bottom[k];
        const PlainSum& pf = plain[c.first];
        const PlainSum& pl = plain[c.last];
        t[0] += uint64_t{w.innerFirst} * pf.b + uint64_t{w.innerLast} * pl.b;
        t[1] += uint64_t{w.innerFirst} * pf.g + uint64_t{w.innerLast} * pl.g;
        t[2] += uint64_t{w.innerFirst} * pf.r + uint64_t{w.innerLast} * pl.r;
        AddPixel(t, job.top[c.first], w.topFirst);
        AddPixel(t, job.top[c.last], w.topLast);
        const uint64_t n = static_cast<uint64_t>(c.inner), R = job.innerRows;
        uint64_t v = job.innerShare * n * R + (uint64_t{w.innerFirst} + w.innerLast) * R + job.topShare * n + w.topFirst +
                     w.topLast;
        if (!oneRow) {
            AddPixel(t, job.bottom[c.first], w.bottomFirst);
            AddPixel(t, job.bottom[c.last], w.bottomLast);
            v += job.bottomShare * n + w.bottomFirst + w.bottomLast;
        }
        if (v == 0) {
            job.out[x] = 0;
            continue;
        }
        const uint64_t alpha =
            job.alpha >= 0 ? static_cast<uint64_t>(job.alpha)
                           : Quotient(v * 255, WeightSum(c, job.innerRows, job.B0, job.B1, oneRow));
        job.out[x] = PackAverage(t[0], t[1], t[2], v, alpha);
    }
}

void MixedRowScalar(const MixedRowJob& job) {
    const bool oneRow = job.bottom == nullptr;
    const ColumnSum* inner = job.inner - job.spanFirst;
    const ColumnSum* edgeRows = job.edgeRows - job.spanFirst;
    const uint32_t* alphas = job.alphas - job.spanFirst;
    for (size_t x = 0; x < job.count; ++x) {
        const StripColumn& c = job.cols[x];
        if (c.empty) {
            job.out[x] = 0;
            continue;
        }
        uint64_t t[4] = {job.edgeColumns[x].b, job.edgeColumns[x].g, job.edgeColumns[x].r, job.edgeColumns[x].a};
        for (int64_t j = c.first + 1; j < c.last; ++j) {
            t[0] += 255 * uint64_t{inner[j].b} + edgeRows[j].b;
            t[1] += 255 * uint64_t{inner[j].g} + edgeRows[j].g;
            t[2] += 255 * uint64_t{inner[j].r} + edgeRows[j].r;
            t[3] += 255 * uint64_t{inner[j].a} + edgeRows[j].a;
        }
        uint32_t range = 0;
        for (int64_t j = c.first; j <= c.last; ++j) range = MergeAlphaWords(range, alphas[j]);
        const uint32_t mn = AlphaWordLo(range), mx = AlphaWordHi(range);
        const auto corner = [&t](uint32_t p, uint32_t C) {
            const uint32_t v = Div255((p >> 24) * C);
            AddPixel(t, p, v);
            t[3] += v;
        };
        corner(job.top[c.first], std::max(c.wFirst * job.B0, 255u));
        if (!c.single) corner(job.top[c.last], std::max(c.wLast * job.B0, 255u));
        if (!oneRow) {
            corner(job.bottom[c.first], std::max(c.wFirst * job.B1, 255u));
            if (!c.single) corner(job.bottom[c.last], std::max(c.wLast * job.B1, 255u));
        }
        if (t[3] == 0) {
            job.out[x] = 0;
            continue;
        }
        const uint64_t alpha = mn == mx ? mn : Quotient(t[3] * 255, WeightSum(c, job.innerRows, job.B0, job.B1, oneRow));
        job.out[x] = PackAverage(t[0], t[1], t[2], t[3], alpha);
    }
}

struct KernelList {
    const Kernels* items[2];
    const char* names[2];
    size_t count = 0;
};

KernelList Detect() {
    KernelList list;
    list.items[list.count] = &ScalarKernels();
    list.names[list.count++] = "scalar";
#if TARN_RESAMPLE_X86
    // Every processor with AVX2 so far also has FMA; the check costs nothing.
    if (IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) && __builtin_cpu_supports("fma")) {
        list.items[list.count] = &Avx2Kernels();
        list.names[list.count++] = "avx2";
    }
#endif
    return list;
}

const KernelList& List() {
    static const KernelList list = Detect();
    return list;
}

}  // namespace

const Kernels& ScalarKernels() {
    static const Kernels kernels{AlphaRangeScalar,  PlainRowsScalar,   PremulRowsScalar, EdgeRowsScalar,
                                 EdgeColumnsScalar, UniformRowScalar, MixedRowScalar,  AlignedRowScalar, NarrowRowScalar,
                                 nullptr};
    return kernels;
}

const Kernels& BestKernels() {
    static const Kernels& best = *List().items[List().count - 1];
    return best;
}

size_t AvailableKernels(const Kernels** out, size_t capacity, const char** names) {
    const KernelList& list = List();
    size_t n = std::min(capacity, list.count);
    for (size_t i = 0; i < n; ++i) {
        out[i] = list.items[i];
        if (names) names[i] = list.names[i];
    }
    return n;
}

}  // namespace tarn::resample
