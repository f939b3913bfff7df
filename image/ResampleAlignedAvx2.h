// Internal to the AVX2 aligned-footprint kernels: column sums of two rows at a time, and four
// destination pixels from their sums.
#pragma once

#include "image/ResampleAligned.h"
#include "image/ResampleAvx2.h"

namespace tarn::resample {

// Down the block rows two rows go at once: their bytes interleaved and widened to 16 bits, one
// multiply-add gives b*a + b'*a' (and a + a' in the alpha lane) per 32-bit lane, so the column
// sums P take one instruction per two pixels.
TARN_AVX2 inline __m256i Times255(__m256i v) { return _mm256_sub_epi32(_mm256_slli_epi32(v, 8), v); }

// The alphas of two rows of two columns widened to 16 bits (one column per 128-bit lane),
// spread over each column's channel lanes.
TARN_AVX2 inline __m256i AlphaPairs(__m256i w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13,
                                                   14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15));
}

// P of two rows of two columns widened to 16 bits, one column per 128-bit lane.
TARN_AVX2 inline __m256i PremultipliedWide(__m256i w, __m256i alphas) {
    return _mm256_madd_epi16(w, _mm256_blend_epi16(alphas, _mm256_set1_epi16(1), 0xC0));
}

// Adds P of rows x0 and x1 over eight columns to sums of columns (0, 4), (1, 5), (2, 6), (3, 7).
// With `Rounding`, also adds G of columns 0 and 4 of both rows to `rounding`, whose 16-bit
// lanes hold each channel of the two rows side by side (at most 16 rows of 255).
template <bool Rounding>
TARN_AVX2 inline void AddPairs8(__m256i x0, __m256i x1, __m256i s[4], __m256i& rounding) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(x0, x1), hi = _mm256_unpackhi_epi8(x0, x1);
    const __m256i w0 = _mm256_unpacklo_epi8(lo, zero), w1 = _mm256_unpackhi_epi8(lo, zero);
    const __m256i w2 = _mm256_unpacklo_epi8(hi, zero), w3 = _mm256_unpackhi_epi8(hi, zero);
    const __m256i alphas = AlphaPairs(w0);
    s[0] = _mm256_add_epi32(s[0], PremultipliedWide(w0, alphas));
    if constexpr (Rounding) {
        const __m256i ones = _mm256_set1_epi16(1);
        rounding = _mm256_add_epi16(
            rounding, _mm256_and_si256(_mm256_blend_epi16(w0, ones, 0xC0), _mm256_cmpgt_epi16(alphas, ones)));
    }
    s[1] = _mm256_add_epi32(s[1], PremultipliedWide(w1, AlphaPairs(w1)));
    s[2] = _mm256_add_epi32(s[2], PremultipliedWide(w2, AlphaPairs(w2)));
    s[3] = _mm256_add_epi32(s[3], PremultipliedWide(w3, AlphaPairs(w3)));
}
TARN_AVX2 inline void AddPairs8(__m256i x0, __m256i x1, __m256i s[4]) {
    __m256i unused = _mm256_setzero_si256();
    AddPairs8<false>(x0, x1, s, unused);
}

TARN_AVX2 inline __m256i Load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

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

// Takes G (the rounding of a block's first column below its first row) of four pixels, one per
// lane, off the sums where `mask` is set.
TARN_AVX2 inline void TakeRounding(FourSums& f, __m128i p, __m128i mask) {
    const __m128i byte = _mm_set1_epi32(255);
    const __m128i m = _mm_and_si128(mask, _mm_cmpgt_epi32(_mm_srli_epi32(p, 24), _mm_set1_epi32(1)));
    f.b = _mm_sub_epi32(f.b, _mm_and_si128(_mm_and_si128(p, byte), m));
    f.g = _mm_sub_epi32(f.g, _mm_and_si128(_mm_and_si128(_mm_srli_epi32(p, 8), byte), m));
    f.r = _mm_sub_epi32(f.r, _mm_and_si128(_mm_and_si128(_mm_srli_epi32(p, 16), byte), m));
    f.v = _mm_add_epi32(f.v, m);
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

// PackFour for two sets of four pixels whose sums and total weight (the same for all, and at
// most 2^31 / 255) stay below 2^31: single-precision estimates and integer remainders, with no
// division.
TARN_AVX2 inline void PackEight(const FourSums& f0, const FourSums& f1, __m256i weight, __m256 weightReciprocal,
                                uint32_t* out8) {
    const __m256i b = _mm256_set_m128i(f1.b, f0.b), g = _mm256_set_m128i(f1.g, f0.g);
    const __m256i r = _mm256_set_m128i(f1.r, f0.r), v = _mm256_set_m128i(f1.v, f0.v);
    const __m256i range = _mm256_set_m128i(f1.range, f0.range);
    const __m256i zero = _mm256_setzero_si256(), byte = _mm256_set1_epi32(255);
    const __m256i empty = _mm256_cmpeq_epi32(v, zero);
    const __m256i divisor = _mm256_or_si256(v, _mm256_and_si256(empty, _mm256_set1_epi32(1)));  // no 0 divisors
    const __m256 reciprocal = _mm256_rcp_ps(_mm256_cvtepi32_ps(divisor));
    const __m256i qb = Quotient8(b, divisor, reciprocal);
    const __m256i qg = Quotient8(g, divisor, reciprocal);
    const __m256i qr = Quotient8(r, divisor, reciprocal);
    // Alpha: the one alpha of the footprint, or v * 255 / weight.
    const __m256i lo = _mm256_sub_epi32(byte, _mm256_and_si256(range, byte));
    const __m256i same = _mm256_cmpeq_epi32(lo, _mm256_and_si256(_mm256_srli_epi32(range, 8), byte));
    const __m256i qa = Quotient8(_mm256_sub_epi32(_mm256_slli_epi32(v, 8), v), weight, weightReciprocal);
    const __m256i a = _mm256_blendv_epi8(qa, lo, same);
    __m256i out = _mm256_or_si256(qb, _mm256_slli_epi32(qg, 8));
    out = _mm256_or_si256(out, _mm256_or_si256(_mm256_slli_epi32(qr, 16), _mm256_slli_epi32(a, 24)));
    out = _mm256_andnot_si256(empty, out);  // all transparent: 0
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out8), out);
}

}  // namespace tarn::resample
