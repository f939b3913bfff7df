// AVX2 column sums of the aligned-footprint kernel (AlignedRowJob): T, U and the alpha range
// of every source column of a span; same results as AlignedColumn.
#include "image/ResampleAligned.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include "image/ResampleAlignedAvx2.h"

namespace tarn::resample {
namespace {

// G of four pixels as two registers of two pixels each (b, g, r, 1), 0 where alpha < 2.
TARN_AVX2 inline void Rounding(__m128i raw, __m256i& g01, __m256i& g23) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i p01 = _mm256_cvtepu8_epi32(raw), p23 = _mm256_cvtepu8_epi32(_mm_srli_si128(raw, 8));
    g01 = _mm256_and_si256(_mm256_blend_epi32(p01, one, 0x88),
                           _mm256_cmpgt_epi32(_mm256_shuffle_epi32(p01, 0xFF), one));
    g23 = _mm256_and_si256(_mm256_blend_epi32(p23, one, 0x88),
                           _mm256_cmpgt_epi32(_mm256_shuffle_epi32(p23, 0xFF), one));
}

// AlphaWord ranges of four columns from their byte-wise minimum and maximum pixels.
TARN_AVX2 inline __m128i RangeWords(__m128i lo, __m128i hi) {
    const __m128i spread = _mm_setr_epi8(3, 3, -1, -1, 7, 7, -1, -1, 11, 11, -1, -1, 15, 15, -1, -1);
    const __m128i flip = _mm_set1_epi32(255);
    return _mm_max_epu8(_mm_xor_si128(_mm_shuffle_epi8(lo, spread), flip),
                        _mm_xor_si128(_mm_shuffle_epi8(hi, spread), flip));
}

// T, U and the alpha ranges of eight columns of the span from c on.
TARN_AVX2 inline void EightColumns(const AlignedRowJob& job, size_t c) {
    const ptrdiff_t W = job.stride;
    const uint32_t* p = job.top + job.spanFirst + static_cast<int64_t>(c);
    const __m256i zero = _mm256_setzero_si256();
    __m256i s[4] = {zero, zero, zero, zero}, b[4] = {zero, zero, zero, zero};
    const __m256i bottom = Load8(job.bottom + job.spanFirst + static_cast<int64_t>(c));
    __m256i lo = bottom, hi = bottom;
    size_t r = 0;
    for (; r + 2 <= job.blockRows; r += 2, p += 2 * W) {
        const __m256i x0 = Load8(p), x1 = Load8(p + W);
        lo = _mm256_min_epu8(lo, _mm256_min_epu8(x0, x1));
        hi = _mm256_max_epu8(hi, _mm256_max_epu8(x0, x1));
        AddPairs8(x0, x1, s);
    }
    if (r < job.blockRows) {
        const __m256i x0 = Load8(p);
        lo = _mm256_min_epu8(lo, x0);
        hi = _mm256_max_epu8(hi, x0);
        AddPairs8(x0, zero, s);
    }
    AddPairs8(bottom, zero, b);
    __m256i g[4] = {zero, zero, zero, zero};  // in column order: (0, 1), (2, 3), (4, 5), (6, 7)
    if (job.blockRows > 0) {
        const __m256i first = Load8(job.top + job.spanFirst + static_cast<int64_t>(c));
        Rounding(_mm256_castsi256_si128(first), g[0], g[1]);
        Rounding(_mm256_extracti128_si256(first, 1), g[2], g[3]);
    }
    __m256i* T = reinterpret_cast<__m256i*>(job.blockSums + c);
    __m256i* U = reinterpret_cast<__m256i*>(job.boundarySums + c);
    // Columns (0, 1), (2, 3) are the low lanes of s[0], s[1] and s[2], s[3]; (4, 5), (6, 7) the high.
    const __m256i sums[4] = {_mm256_permute2x128_si256(s[0], s[1], 0x20), _mm256_permute2x128_si256(s[2], s[3], 0x20),
                             _mm256_permute2x128_si256(s[0], s[1], 0x31), _mm256_permute2x128_si256(s[2], s[3], 0x31)};
    const __m256i last[4] = {_mm256_permute2x128_si256(b[0], b[1], 0x20), _mm256_permute2x128_si256(b[2], b[3], 0x20),
                             _mm256_permute2x128_si256(b[0], b[1], 0x31), _mm256_permute2x128_si256(b[2], b[3], 0x31)};
    for (int k = 0; k < 4; ++k) {
        _mm256_storeu_si256(T + k, _mm256_add_epi32(_mm256_sub_epi32(Times255(sums[k]), g[k]), last[k]));
        _mm256_storeu_si256(U + k, _mm256_add_epi32(sums[k], last[k]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(job.alphas + c),
                     RangeWords(_mm256_castsi256_si128(lo), _mm256_castsi256_si128(hi)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(job.alphas + c + 4),
                     RangeWords(_mm256_extracti128_si256(lo, 1), _mm256_extracti128_si256(hi, 1)));
}

}  // namespace

TARN_AVX2 void AlignedColumnsAvx2(const AlignedRowJob& job, size_t from) {
    size_t c = from;
    for (; c + 8 <= job.spanCount; c += 8) EightColumns(job, c);
    for (; c < job.spanCount; ++c) AlignedColumn(job, c);
}

}  // namespace tarn::resample

#endif
