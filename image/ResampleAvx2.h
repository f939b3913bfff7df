// AVX2 helpers shared by the resampling kernel files: exact conversions to double and the
// packing of quotients into a pixel. Only for functions compiled with TARN_AVX2 and reached
// after a processor check.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define TARN_AVX2 __attribute__((target("avx2,fma")))

// Vector values only pass between TARN_AVX2 functions, yet GCC for some targets (mingw) warns
// that the ABI of vector returns differs without AVX. The warning does not apply here.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tarn::resample {

// Exact conversion of a count below 2^63 (signed conversion needs no fix-up for the top bit).
inline double ToDouble(uint64_t v) { return static_cast<double>(static_cast<int64_t>(v)); }

// The top 64-bit lane. 32-bit code has no 64-bit extract: there it is two 32-bit halves.
TARN_AVX2 inline uint64_t HighLane64(__m256i v) {
#if defined(__x86_64__)
    return static_cast<uint64_t>(_mm256_extract_epi64(v, 3));
#else
    return uint64_t{static_cast<uint32_t>(_mm256_extract_epi32(v, 7))} << 32 |
           static_cast<uint32_t>(_mm256_extract_epi32(v, 6));
#endif
}

// Exact conversion of 64-bit lanes below 2^52 to doubles.
TARN_AVX2 inline __m256d U64ToDouble(__m256i v) {
    const __m256d magic = _mm256_set1_pd(4503599627370496.0);  // 2^52
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(v, _mm256_castpd_si256(magic))), magic);
}

// floor(n / d) per lane for 0 <= n < 2^31, 0 < d < 2^30 and quotients at most 255, given
// r ~ 1 / d (the approximate reciprocal, relative error at most 1.5 * 2^-12, will do): the
// estimate is within one of the quotient, and the remainder n - q * d, exact in 32 bits,
// says which way.
TARN_AVX2 inline __m256i Quotient8(__m256i n, __m256i d, __m256 r) {
    __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), r));
    const __m256i rest = _mm256_sub_epi32(n, _mm256_mullo_epi32(q, d));
    q = _mm256_sub_epi32(q, _mm256_cmpgt_epi32(rest, _mm256_sub_epi32(d, _mm256_set1_epi32(1))));  // rest >= d
    return _mm256_add_epi32(q, _mm256_cmpgt_epi32(_mm256_setzero_si256(), rest));                   // rest < 0
}

// Divides lanes b, g, r of `sum` by v, and `alphaNumerator` by `alphaDenominator` unless
// `alpha` (>= 0) is given; packs the four low bytes into a pixel.
TARN_AVX2 inline uint32_t PackQuotients(__m256d sum, double v, double alphaNumerator, double alphaDenominator,
                                        int32_t alpha) {
    sum = _mm256_blend_pd(sum, _mm256_set1_pd(alphaNumerator), 8);
    __m128i q = _mm256_cvttpd_epi32(_mm256_div_pd(sum, _mm256_setr_pd(v, v, v, alphaDenominator)));
    if (alpha >= 0) q = _mm_insert_epi32(q, alpha, 3);
    q = _mm_and_si128(q, _mm_set1_epi32(255));
    q = _mm_packus_epi16(_mm_packus_epi32(q, q), q);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(q));
}

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

}  // namespace tarn::resample
