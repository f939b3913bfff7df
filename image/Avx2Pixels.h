// AVX2 building blocks shared by the vector row files: eight pixels, one channel per 32-bit
// lane. Only for functions compiled with TARN_AVX2 and reached after a processor check.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "image/BlendParams.h"

#define TARN_AVX2 __attribute__((target("avx2")))

// Vector values only pass between TARN_AVX2 functions, yet GCC for some targets (mingw) warns
// that the ABI of vector returns differs without AVX. The warning does not apply here.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tarn {

// The hue / chroma / luma kernel rows with destination alpha kept (BlendHcyAvx2.cpp).
BlendRowFunction HcyKeepAlphaRowAvx2(int kernelIndex);

namespace avx2 {

TARN_AVX2 inline __m256i Div255x32(__m256i t) {
    const __m256i t1 = _mm256_add_epi32(t, _mm256_set1_epi32(1));
    return _mm256_srli_epi32(_mm256_add_epi32(t1, _mm256_srli_epi32(t1, 8)), 8);
}

// Channel C (0 blue .. 3 alpha) of eight pixels, one per 32-bit lane.
template <int C>
TARN_AVX2 inline __m256i ChannelX32(__m256i p) {
    constexpr char z = -1;
    constexpr char c0 = C, c1 = C + 4, c2 = C + 8, c3 = C + 12;
    return _mm256_shuffle_epi8(p, _mm256_setr_epi8(c0, z, z, z, c1, z, z, z, c2, z, z, z, c3, z, z, z, c0, z, z, z, c1,
                                                   z, z, z, c2, z, z, z, c3, z, z, z));
}

TARN_AVX2 inline __m256i PackX32(__m256i b, __m256i g, __m256i r) {
    return _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)), _mm256_slli_epi32(r, 16));
}

// div255(s * k + d * (255 - k)) per 32-bit lane; `coeff` holds k | (255 - k) << 16.
TARN_AVX2 inline __m256i MixX32(__m256i s, __m256i d, __m256i coeff) {
    return Div255x32(_mm256_madd_epi16(_mm256_or_si256(s, _mm256_slli_epi32(d, 16)), coeff));
}

}  // namespace avx2
}  // namespace tarn
