// Internal to the AVX2 aligned-footprint kernels: four destination pixels from their sums.
#pragma once

#include "image/ResampleAligned.h"
#include "image/ResampleAvx2.h"

namespace tarn::resample {

// Four 32-bit lanes below 2^32 as doubles.
TARN_AVX2 inline __m256d U32ToDouble(__m128i v) { return U64ToDouble(_mm256_cvtepu32_epi64(v)); }

// floor(n / d) for integer lanes n < 2^52, 0 < d < 2^52, given r = 1 / d rounded: the product
// is at most one below the quotient (only when it is a whole number), which the remainder
// corrects.
TARN_AVX2 inline __m128i QuotientBy(__m256d n, __m256d d, __m256d r) {
    __m256d q = _mm256_round_pd(_mm256_mul_pd(n, r), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d rest = _mm256_fnmadd_pd(q, d, n);
    q = _mm256_add_pd(q, _mm256_and_pd(_mm256_cmp_pd(rest, d, _CMP_GE_OQ), _mm256_set1_pd(1.0)));
    return _mm256_cvttpd_epi32(q);
}

// Sums of four destination pixels, one lane each.
struct FourSums {
    __m128i b, g, r, v;
    __m128i range;         // AlphaWord over the footprint
    __m128i blockColumns;  // last - first
};

// Transposes four (b, g, r, v) registers into the channels of FourSums.
TARN_AVX2 inline void Transpose(const __m128i s[4], FourSums& f) {
    const __m128i t0 = _mm_unpacklo_epi32(s[0], s[1]), t1 = _mm_unpacklo_epi32(s[2], s[3]);
    const __m128i t2 = _mm_unpackhi_epi32(s[0], s[1]), t3 = _mm_unpackhi_epi32(s[2], s[3]);
    f.b = _mm_unpacklo_epi64(t0, t1);
    f.g = _mm_unpackhi_epi64(t0, t1);
    f.r = _mm_unpacklo_epi64(t2, t3);
    f.v = _mm_unpackhi_epi64(t2, t3);
}

// The total weights of four aligned footprints as doubles (their blocks' columns in
// `blockColumns`, blockRows rows each).
TARN_AVX2 inline __m256d AlignedWeights(__m128i blockColumns, size_t blockRows) {
    const uint32_t rows = static_cast<uint32_t>(blockRows);
    return U32ToDouble(_mm_add_epi32(_mm_mullo_epi32(blockColumns, _mm_set1_epi32(static_cast<int>(65025 * rows + 255))),
                                     _mm_set1_epi32(static_cast<int>(255 * (rows + 1)))));
}

// Writes four destination pixels from their sums (the rounding of the blocks' first columns
// already taken off), given their total weights and the weights' reciprocals: one reciprocal
// serves the three colour quotients of the four.
TARN_AVX2 inline void PackFour(const FourSums& f, __m256d weight, __m256d weightReciprocal, uint32_t* out4) {
    const __m128i zero = _mm_setzero_si128(), byte = _mm_set1_epi32(255);
    const __m256d vd = U32ToDouble(f.v);
    const __m256d reciprocal = _mm256_div_pd(_mm256_set1_pd(1.0), vd);
    const __m128i qb = QuotientBy(U32ToDouble(f.b), vd, reciprocal);
    const __m128i qg = QuotientBy(U32ToDouble(f.g), vd, reciprocal);
    const __m128i qr = QuotientBy(U32ToDouble(f.r), vd, reciprocal);
    // Alpha: the one alpha of the footprint, or v * 255 / weight.
    const __m128i lo = _mm_sub_epi32(byte, _mm_and_si128(f.range, byte));
    const __m128i same = _mm_cmpeq_epi32(lo, _mm_and_si128(_mm_srli_epi32(f.range, 8), byte));
    const __m128i qa = QuotientBy(_mm256_mul_pd(vd, _mm256_set1_pd(255.0)), weight, weightReciprocal);
    const __m128i a = _mm_blendv_epi8(qa, lo, same);
    __m128i out = _mm_or_si128(_mm_and_si128(qb, byte), _mm_slli_epi32(_mm_and_si128(qg, byte), 8));
    out = _mm_or_si128(out, _mm_slli_epi32(_mm_and_si128(qr, byte), 16));
    out = _mm_or_si128(out, _mm_slli_epi32(a, 24));
    out = _mm_andnot_si128(_mm_cmpeq_epi32(f.v, zero), out);  // all transparent: 0
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out4), out);
}

}  // namespace tarn::resample
