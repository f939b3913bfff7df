// AVX2 (and FMA) row kernels of the area average and the table of the AVX2 set; same results
// as the portable ones. The destination-row kernels live in ResampleRowsAvx2.cpp and
// ResampleAligned*Avx2.cpp, ResampleNarrowAvx2.cpp.
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

}  // namespace

const Kernels& Avx2Kernels() {
    static const Kernels kernels{AlphaRangeAvx2,  PlainRowsAvx2,   PremulRowsAvx2, EdgeRowsAvx2,
                                 EdgeColumnsAvx2, UniformRowAvx2, MixedRowAvx2,  AlignedRowAvx2, NarrowRowAvx2,
                                 FourWideRowAvx2};
    return kernels;
}

}  // namespace tarn::resample

#endif
