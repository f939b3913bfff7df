// AVX2 (and FMA) kernels of the area average; same results as the portable ones.
//
// Products of a channel and an alpha (or of an alpha and a weight) fit 16 bits, so pixels are
// widened to 16-bit lanes, multiplied with one instruction and only then widened to 32 bits.
#include "image/ResampleKernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstddef>

#include "image/ResampleAvx2.h"

namespace tarn::resample {
namespace {

// In each 128-bit lane of two pixels widened to 16 bits: their alphas spread over the lanes
// of the pixel (bytes 6-7 and 14-15).
TARN_AVX2 inline __m256i SpreadAlpha(__m256i w) {
    const __m256i spread =
        _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14,
                         15, 14, 15, 14, 15);
    return _mm256_shuffle_epi8(w, spread);
}

// EdgeShare on 16-bit lanes: m - (m >= 258).
TARN_AVX2 inline __m256i EdgeShare16(__m256i m) {
    const __m256i below = _mm256_cmpeq_epi16(_mm256_subs_epu16(m, _mm256_set1_epi16(257)), _mm256_setzero_si256());
    return _mm256_sub_epi16(_mm256_sub_epi16(m, _mm256_set1_epi16(1)), below);
}

// (b, g, r, 1) * v per pixel, as 32-bit lanes: pixels 0 and 2 in `first`, 1 and 3 in `second`.
TARN_AVX2 inline void WeightedColour(__m256i w, __m256i v, __m256i& first, __m256i& second) {
    const __m256i colour = _mm256_blend_epi16(w, _mm256_set1_epi16(1), 0x88);
    const __m256i lo = _mm256_mullo_epi16(colour, v), hi = _mm256_mulhi_epu16(colour, v);
    first = _mm256_unpacklo_epi16(lo, hi);
    second = _mm256_unpackhi_epi16(lo, hi);
}

TARN_AVX2 void AlphaRangeAvx2(const uint32_t* row, size_t n, AlphaRange& range) {
    // The word with the smallest (largest) top byte wins min (max) on whole words.
    __m256i lo0 = _mm256_set1_epi32(-1), lo1 = lo0, hi0 = _mm256_setzero_si256(), hi1 = hi0;
    size_t c = 0;
    for (; c + 16 <= n; c += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + c));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + c + 8));
        lo0 = _mm256_min_epu32(lo0, a);
        hi0 = _mm256_max_epu32(hi0, a);
        lo1 = _mm256_min_epu32(lo1, b);
        hi1 = _mm256_max_epu32(hi1, b);
    }
    alignas(32) uint32_t l[8], h[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), _mm256_min_epu32(lo0, lo1));
    _mm256_store_si256(reinterpret_cast<__m256i*>(h), _mm256_max_epu32(hi0, hi1));
    uint32_t mn = range.lo, mx = range.hi;
    if (c > 0) {
        for (int i = 0; i < 8; ++i) {
            mn = std::min(mn, l[i] >> 24);
            mx = std::max(mx, h[i] >> 24);
        }
    }
    for (; c < n; ++c) {
        mn = std::min(mn, row[c] >> 24);
        mx = std::max(mx, row[c] >> 24);
    }
    range.lo = mn;
    range.hi = mx;
}

// Eight columns at a time down all the rows, the sums kept in registers (16-bit lanes hold
// 257 rows).
TARN_AVX2 void PlainRowsAvx2(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, PlainSum* sums,
                             AlphaRange& range) {
    __m128i lo = _mm_set1_epi32(-1), hi = _mm_setzero_si128();
    size_t c = 0;
    for (; c + 8 <= n; c += 8) {
        __m256i s0 = _mm256_setzero_si256(), s1 = s0;
        const uint32_t* p = first + c;
        for (size_t r = 0; r < rows; ++r, p += stride) {
            const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
            lo = _mm_min_epu32(lo, _mm_min_epu32(pa, pb));
            hi = _mm_max_epu32(hi, _mm_max_epu32(pa, pb));
            s0 = _mm256_add_epi16(s0, _mm256_cvtepu8_epi16(pa));
            s1 = _mm256_add_epi16(s1, _mm256_cvtepu8_epi16(pb));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + c), s0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + c + 4), s1);
    }
    uint32_t mn = range.lo, mx = range.hi;
    if (c > 0) {
        lo = _mm_min_epu32(lo, _mm_shuffle_epi32(lo, 0x4E));
        hi = _mm_max_epu32(hi, _mm_shuffle_epi32(hi, 0x4E));
        lo = _mm_min_epu32(lo, _mm_shuffle_epi32(lo, 0xB1));
        hi = _mm_max_epu32(hi, _mm_shuffle_epi32(hi, 0xB1));
        mn = std::min(mn, static_cast<uint32_t>(_mm_cvtsi128_si32(lo)) >> 24);
        mx = std::max(mx, static_cast<uint32_t>(_mm_cvtsi128_si32(hi)) >> 24);
    }
    for (; c < n; ++c) {
        PlainSum sum{0, 0, 0, 0};
        const uint32_t* p = first + c;
        for (size_t r = 0; r < rows; ++r, p += stride) {
            sum.b = static_cast<uint16_t>(sum.b + (*p & 255));
            sum.g = static_cast<uint16_t>(sum.g + ((*p >> 8) & 255));
            sum.r = static_cast<uint16_t>(sum.r + ((*p >> 16) & 255));
            sum.a = static_cast<uint16_t>(sum.a + (*p >> 24));
            mn = std::min(mn, *p >> 24);
            mx = std::max(mx, *p >> 24);
        }
        sums[c] = sum;
    }
    range.lo = mn;
    range.hi = mx;
}

// AlphaWord of four pixels: the alpha byte copied to bytes 0 and 1 of its word, byte 0 inverted.
TARN_AVX2 inline __m128i AlphaWords(__m128i raw) {
    const __m128i spread = _mm_setr_epi8(3, 3, -1, -1, 7, 7, -1, -1, 11, 11, -1, -1, 15, 15, -1, -1);
    return _mm_xor_si128(_mm_shuffle_epi8(raw, spread), _mm_set1_epi32(255));
}

// Widens the column alpha ranges alphas[c..c+3] by four pixels.
TARN_AVX2 inline void WidenColumns(__m128i raw, uint32_t* alphas) {
    __m128i* a = reinterpret_cast<__m128i*>(alphas);
    _mm_storeu_si128(a, _mm_max_epu8(_mm_loadu_si128(a), AlphaWords(raw)));
}

// Four columns at a time down all the rows, the sums kept in registers.
TARN_AVX2 void PremulRowsAvx2(const uint32_t* first, ptrdiff_t stride, size_t rows, size_t n, ColumnSum* sums,
                              uint32_t* alphas) {
    const __m256i one = _mm256_set1_epi16(1);
    size_t c = 0;
    for (; c + 4 <= n; c += 4) {
        __m256i s01 = _mm256_setzero_si256(), s23 = s01;
        __m128i range = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + c));
        const uint32_t* p = first + c;
        for (size_t r = 0; r < rows; ++r, p += stride) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m256i w = _mm256_cvtepu8_epi16(raw);
            // (b, g, r, a) * (a, a, a, 1): at most 65025, exact in 16 bits.
            const __m256i prod = _mm256_mullo_epi16(w, _mm256_blend_epi16(SpreadAlpha(w), one, 0x88));
            s01 = _mm256_add_epi32(s01, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(prod)));
            s23 = _mm256_add_epi32(s23, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(prod, 1)));
            range = _mm_max_epu8(range, AlphaWords(raw));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + c), s01);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + c + 2), s23);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(alphas + c), range);
    }
    for (; c < n; ++c) {
        ColumnSum sum{0, 0, 0, 0};
        const uint32_t* p = first + c;
        for (size_t r = 0; r < rows; ++r, p += stride) {
            const uint32_t a = *p >> 24;
            sum.b += (*p & 255) * a;
            sum.g += ((*p >> 8) & 255) * a;
            sum.r += ((*p >> 16) & 255) * a;
            sum.a += a;
            alphas[c] = MergeAlphaWords(alphas[c], AlphaWord(*p));
        }
        sums[c] = sum;
    }
}

TARN_AVX2 void EdgeRowsAvx2(const uint32_t* top, const uint32_t* bottom, size_t n, uint32_t wTop, uint32_t wBottom,
                            ColumnSum* sums, uint32_t* alphas) {
    const __m256i wt = _mm256_set1_epi16(static_cast<short>(wTop)), wb = _mm256_set1_epi16(static_cast<short>(wBottom));
    size_t c = 0;
    for (; c + 4 <= n; c += 4) {
        const __m128i rt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + c));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + c));
        const __m256i t = _mm256_cvtepu8_epi16(rt), b = _mm256_cvtepu8_epi16(rb);
        __m256i t0, t1, b0, b1;
        WeightedColour(t, EdgeShare16(_mm256_mullo_epi16(SpreadAlpha(t), wt)), t0, t1);
        WeightedColour(b, EdgeShare16(_mm256_mullo_epi16(SpreadAlpha(b), wb)), b0, b1);
        const __m256i first = _mm256_add_epi32(t0, b0), second = _mm256_add_epi32(t1, b1);  // pixels 0, 2 and 1, 3
        __m256i* s = reinterpret_cast<__m256i*>(sums + c);
        _mm256_storeu_si256(s, _mm256_permute2x128_si256(first, second, 0x20));
        _mm256_storeu_si256(s + 1, _mm256_permute2x128_si256(first, second, 0x31));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(alphas + c), _mm_max_epu8(AlphaWords(rt), AlphaWords(rb)));
    }
    for (; c < n; ++c) {
        const uint32_t p = top[c], q = bottom[c];
        const uint32_t sp = EdgeShare((p >> 24) * wTop), sq = EdgeShare((q >> 24) * wBottom);
        sums[c].b = (p & 255) * sp + (q & 255) * sq;
        sums[c].g = ((p >> 8) & 255) * sp + ((q >> 8) & 255) * sq;
        sums[c].r = ((p >> 16) & 255) * sp + ((q >> 16) & 255) * sq;
        sums[c].a = sp + sq;
        alphas[c] = MergeAlphaWords(AlphaWord(p), AlphaWord(q));
    }
}

TARN_AVX2 void EdgeColumnsAvx2(const uint32_t* first, ptrdiff_t stride, size_t rows, const EdgeColumns* cols, size_t n,
                               ColumnSum* sums) {
    // Two destination columns per step, their four edge pixels in one register, down all rows.
    const __m256i weights = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8, 9,
                                             8, 9, 12, 13, 12, 13, 12, 13, 12, 13);
    size_t x = 0;
    for (; x + 2 <= n; x += 2) {
        const __m256i wv = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cols + x)), weights);
        const int32_t f0 = cols[x].first, l0 = cols[x].last, f1 = cols[x + 1].first, l1 = cols[x + 1].last;
        __m256i acc = _mm256_setzero_si256();
        const uint32_t* row = first;
        for (size_t r = 0; r < rows; ++r, row += stride) {
            const __m128i p = _mm_setr_epi32(static_cast<int>(row[f0]), static_cast<int>(row[l0]),
                                             static_cast<int>(row[f1]), static_cast<int>(row[l1]));
            const __m256i w = _mm256_cvtepu8_epi16(p);
            __m256i a, b;
            WeightedColour(w, EdgeShare16(_mm256_mullo_epi16(SpreadAlpha(w), wv)), a, b);
            acc = _mm256_add_epi32(acc, _mm256_add_epi32(a, b));  // x in the low lane, x + 1 in the high
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + x), acc);
    }
    for (; x < n; ++x) {
        ColumnSum sum{0, 0, 0, 0};
        const uint32_t* row = first;
        for (size_t r = 0; r < rows; ++r, row += stride) {
            const uint32_t p0 = row[cols[x].first], p1 = row[cols[x].last];
            const uint32_t v0 = EdgeShare((p0 >> 24) * cols[x].wFirst), v1 = EdgeShare((p1 >> 24) * cols[x].wLast);
            sum.b += (p0 & 255) * v0 + (p1 & 255) * v1;
            sum.g += ((p0 >> 8) & 255) * v0 + ((p1 >> 8) & 255) * v1;
            sum.r += ((p0 >> 16) & 255) * v0 + ((p1 >> 16) & 255) * v1;
            sum.a += v0 + v1;
        }
        sums[x] = sum;
    }
}

// a * b + c; exact here, since every value is an integer far below 2^53.
TARN_AVX2 inline __m256d MulAdd(__m256d a, __m256d b, __m256d c) { return _mm256_fmadd_pd(a, b, c); }

// Four 32-bit lanes (b, g, r, a) of a sum or pixel as doubles.
TARN_AVX2 inline __m256d PlainToDouble(const PlainSum& p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p))));
}
TARN_AVX2 inline __m256d PixelToDouble(uint32_t p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p))));
}

// The nine region sums are weighted in doubles: every product and partial sum is an integer
// far below 2^53, so the arithmetic is exact, and one division yields all four channels.
TARN_AVX2 void UniformRowAvx2(const UniformRowJob& job) {
    const PlainSum* plain = job.plain - job.spanFirst;
    // A footprint of one row reads its first row again as the last, with weight 0.
    const uint32_t* top = job.top;
    const uint32_t* bottom = job.bottom ? job.bottom : job.top;
    const __m256d innerShare = _mm256_set1_pd(job.innerShare), topShare = _mm256_set1_pd(job.topShare),
                  bottomShare = _mm256_set1_pd(job.bottomShare);
    const uint64_t R = job.innerRows;
    const uint64_t perInnerColumn = uint64_t{job.innerShare} * R + job.topShare + job.bottomShare;
    for (size_t x = 0; x < job.count; ++x) {
        const StripColumn& c = job.cols[x];
        if (c.empty) {
            job.out[x] = 0;
            continue;
        }
        const EdgeWeights& w = job.weights[x];
        const uint64_t v = perInnerColumn * static_cast<uint64_t>(c.inner) + (uint64_t{w.innerFirst} + w.innerLast) * R +
                           w.topFirst + w.topLast + w.bottomFirst + w.bottomLast;
        if (v == 0) {
            job.out[x] = 0;
            continue;
        }
        // Inner-column sums, two columns per step; 32-bit lanes hold up to 1024 columns.
        __m256i sp = _mm256_setzero_si256(), st = sp, sb = sp;
        int64_t j = c.first + 1;
        for (; j + 2 <= c.last; j += 2) {
            sp = _mm256_add_epi32(sp, _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(plain + j))));
            st = _mm256_add_epi32(st, _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + j))));
            sb = _mm256_add_epi32(sb, _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + j))));
        }
        __m128i p = _mm_add_epi32(_mm256_castsi256_si128(sp), _mm256_extracti128_si256(sp, 1));
        __m128i t = _mm_add_epi32(_mm256_castsi256_si128(st), _mm256_extracti128_si256(st, 1));
        __m128i b = _mm_add_epi32(_mm256_castsi256_si128(sb), _mm256_extracti128_si256(sb, 1));
        if (j < c.last) {
            p = _mm_add_epi32(p, _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plain + j))));
            t = _mm_add_epi32(t, _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(top[j]))));
            b = _mm_add_epi32(b, _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(bottom[j]))));
        }
        __m256d sum = _mm256_mul_pd(innerShare, _mm256_cvtepi32_pd(p));
        sum = MulAdd(topShare, _mm256_cvtepi32_pd(t), sum);
        sum = MulAdd(bottomShare, _mm256_cvtepi32_pd(b), sum);
        __m256d edges = _mm256_mul_pd(_mm256_set1_pd(w.innerFirst), PlainToDouble(plain[c.first]));
        edges = MulAdd(_mm256_set1_pd(w.innerLast), PlainToDouble(plain[c.last]), edges);
        edges = MulAdd(_mm256_set1_pd(w.topFirst), PixelToDouble(top[c.first]), edges);
        edges = MulAdd(_mm256_set1_pd(w.topLast), PixelToDouble(top[c.last]), edges);
        edges = MulAdd(_mm256_set1_pd(w.bottomFirst), PixelToDouble(bottom[c.first]), edges);
        edges = MulAdd(_mm256_set1_pd(w.bottomLast), PixelToDouble(bottom[c.last]), edges);
        sum = _mm256_add_pd(sum, edges);

        double alphaNumerator = 0, alphaDenominator = 1;
        if (job.alpha < 0) {
            alphaNumerator = ToDouble(v * 255);
            alphaDenominator = ToDouble(WeightSum(c, R, job.B0, job.B1, job.bottom == nullptr));
        }
        job.out[x] = PackQuotients(sum, ToDouble(v), alphaNumerator, alphaDenominator, job.alpha);
    }
}

// Lanes of the first n of four columns (two columns of four lanes per register).
alignas(32) const uint32_t kInnerMaskBits[5][16] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {~0u, ~0u, ~0u, ~0u, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, 0, 0, 0, 0, 0, 0, 0, 0},
    {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, 0, 0, 0, 0},
    {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u},
};
TARN_AVX2 inline __m256i Load2(const ColumnSum* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

static_assert(offsetof(StripColumn, wLast) == offsetof(StripColumn, wFirst) + 4, "weights are loaded as a pair");

TARN_AVX2 void MixedRowAvx2(const MixedRowJob& job) {
    const bool oneRow = job.bottom == nullptr;
    const ColumnSum* inner = job.inner - job.spanFirst;
    const ColumnSum* edgeRows = job.edgeRows - job.spanFirst;
    const uint32_t* alphas = job.alphas - job.spanFirst;
    const uint32_t* bottom = oneRow ? job.top : job.bottom;  // read with C = 0, adding nothing
    // Weight of an inner column's pixels in the edge rows.
    const uint64_t innerEdgeRows = std::max(255 * job.B0, 255u) + (oneRow ? 0 : std::max(255 * job.B1, 255u));
    // Row weights of the corners (first row, first row, last row, last row); a footprint of one
    // row has no last-row corners.
    const __m128i B = _mm_setr_epi32(static_cast<int>(job.B0), static_cast<int>(job.B0), static_cast<int>(job.B1),
                                     static_cast<int>(job.B1));
    const __m128i rowMask = oneRow ? _mm_setr_epi32(-1, -1, 0, 0) : _mm_set1_epi32(-1);
    const __m128i singleMask = _mm_setr_epi32(-1, 0, -1, 0);  // one column: no last-column corners
    const __m128i c255 = _mm_set1_epi32(255);
    const __m128i spreadLow = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3);
    const __m128i spreadHigh = _mm_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7);
    for (size_t x = 0; x < job.count; ++x) {
        const StripColumn& c = job.cols[x];
        if (c.empty) {
            job.out[x] = 0;
            continue;
        }
        __m256i si, se;
        if (c.inner <= 4) {
            // Up to four inner columns without a loop: masked, their sums fit 32-bit lanes.
            const __m256i m[2] = {_mm256_load_si256(reinterpret_cast<const __m256i*>(kInnerMaskBits[c.inner])),
                                  _mm256_load_si256(reinterpret_cast<const __m256i*>(kInnerMaskBits[c.inner] + 8))};
            const ColumnSum* ip = inner + c.first + 1;
            const ColumnSum* ep = edgeRows + c.first + 1;
            const __m256i i4 = _mm256_add_epi32(_mm256_and_si256(m[0], Load2(ip)), _mm256_and_si256(m[1], Load2(ip + 2)));
            const __m256i e4 = _mm256_add_epi32(_mm256_and_si256(m[0], Load2(ep)), _mm256_and_si256(m[1], Load2(ep + 2)));
            si = _mm256_cvtepu32_epi64(_mm_add_epi32(_mm256_castsi256_si128(i4), _mm256_extracti128_si256(i4, 1)));
            se = _mm256_cvtepu32_epi64(_mm_add_epi32(_mm256_castsi256_si128(e4), _mm256_extracti128_si256(e4, 1)));
        } else {
            si = se = _mm256_setzero_si256();
            for (int64_t j = c.first + 1; j < c.last; ++j) {
                si = _mm256_add_epi64(si, _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inner + j))));
                se = _mm256_add_epi64(se, _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(edgeRows + j))));
            }
        }
        // Alpha range over columns first..last: the first and last four (overlapping when
        // fewer than eight) and any groups of four between; one by one below four.
        uint32_t range = 0;
        if (c.last - c.first >= 3) {
            __m128i r = _mm_max_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + c.first)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + c.last - 3)));
            for (int64_t j = c.first + 4; j < c.last - 3; j += 4)
                r = _mm_max_epu8(r, _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + j)));
            r = _mm_max_epu8(r, _mm_shuffle_epi32(r, 0x4E));
            r = _mm_max_epu8(r, _mm_shuffle_epi32(r, 0xB1));
            range = static_cast<uint32_t>(_mm_cvtsi128_si32(r));
        } else {
            for (int64_t j = c.first; j <= c.last; ++j) range = MergeAlphaWords(range, alphas[j]);
        }
        const uint32_t alphaLo = AlphaWordLo(range), alphaHi = AlphaWordHi(range);

        // Corner weights C = max(A * B, 255), and 0 for corners the footprint lacks (Div255(0) = 0).
        const __m128i A = _mm_shuffle_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&c.wFirst)), 0x44);
        const __m128i C = _mm_and_si128(_mm_and_si128(_mm_max_epu32(_mm_mullo_epi32(A, B), c255), rowMask),
                                        c.single ? singleMask : _mm_set1_epi32(-1));
        const __m128i px = _mm_setr_epi32(static_cast<int>(job.top[c.first]), static_cast<int>(job.top[c.last]),
                                          static_cast<int>(bottom[c.first]), static_cast<int>(bottom[c.last]));
        __m128i t = _mm_add_epi32(_mm_mullo_epi32(_mm_srli_epi32(px, 24), C), _mm_set1_epi32(1));
        const __m128i v = _mm_srli_epi32(_mm_add_epi32(t, _mm_srli_epi32(t, 8)), 8);  // at most 65025
        const __m128i v16 = _mm_packus_epi32(v, v);
        const __m256i vs = _mm256_set_m128i(_mm_shuffle_epi8(v16, spreadHigh), _mm_shuffle_epi8(v16, spreadLow));
        __m256i first, second;
        WeightedColour(_mm256_cvtepu8_epi16(px), vs, first, second);
        const __m256i corners = _mm256_add_epi32(first, second);
        const __m128i corner4 = _mm_add_epi32(_mm256_castsi256_si128(corners), _mm256_extracti128_si256(corners, 1));

        const __m256i edges =
            _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(job.edgeColumns + x))),
                             _mm256_cvtepu32_epi64(corner4));
        // 255 * inner + edge rows + edge columns + corners.
        const __m256i total = _mm256_add_epi64(_mm256_add_epi64(_mm256_sub_epi64(_mm256_slli_epi64(si, 8), si), se), edges);
        // Without branches on the data: a footprint of one alpha keeps it (numerator alpha,
        // denominator 1), and v = 0 (all transparent) gives 0 / 1 in every lane.
        const uint64_t sumV = HighLane64(total);
        const bool same = alphaLo == alphaHi;
        // WeightSum, with the corner weights already at hand.
        const uint64_t columnWeight =
            std::max(c.wFirst, 1u) + (c.single ? 0 : 255 * static_cast<uint64_t>(c.inner) + std::max(c.wLast, 1u));
        __m128i cornerWeights = _mm_add_epi32(C, _mm_shuffle_epi32(C, 0x4E));
        cornerWeights = _mm_add_epi32(cornerWeights, _mm_shuffle_epi32(cornerWeights, 0xB1));
        const uint64_t weightSum = job.innerRows * 255 * columnWeight + static_cast<uint64_t>(c.inner) * innerEdgeRows +
                                   static_cast<uint32_t>(_mm_cvtsi128_si32(cornerWeights));
        const double alphaNumerator = ToDouble(same ? alphaLo : sumV * 255);
        const double alphaDenominator = ToDouble(same ? 1 : weightSum);
        job.out[x] = PackQuotients(U64ToDouble(total), ToDouble(std::max<uint64_t>(sumV, 1)), alphaNumerator,
                                   alphaDenominator, -1);
    }
}

}  // namespace

const Kernels& Avx2Kernels() {
    static const Kernels kernels{AlphaRangeAvx2,  PlainRowsAvx2,   PremulRowsAvx2, EdgeRowsAvx2,
                                 EdgeColumnsAvx2, UniformRowAvx2, MixedRowAvx2,  AlignedRowAvx2, NarrowRowAvx2};
    return kernels;
}

}  // namespace tarn::resample

#endif
