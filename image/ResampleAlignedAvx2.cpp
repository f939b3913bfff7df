// AVX2 kernel of the area average for footprints aligned to source pixels; same results as
// AlignedRowScalar. Blocks 4, 8 or 16 wide go through WholeBlockRowsAvx2; for the others the column
// sums come from AlignedColumnsAvx2 and destination pixels go four at a time, their channels
// in separate registers, so that one reciprocal serves the three colour quotients of four.
#include "image/ResampleAligned.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include "image/ResampleAlignedAvx2.h"

namespace tarn::resample {
namespace {

// G of one pixel as (b, g, r, 1), 0 when its alpha is below 2.
TARN_AVX2 inline __m128i PixelRounding(uint32_t p) {
    const __m128i w = _mm_blend_epi32(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p))), _mm_set1_epi32(1), 8);
    return _mm_and_si128(w, _mm_set1_epi32((p >> 24) >= 2 ? -1 : 0));
}

TARN_AVX2 inline __m128i Load(const ColumnSum* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Sum of T over the block [f, l) and U of its boundary column l.
TARN_AVX2 inline __m128i BlockSum(const ColumnSum* T, const ColumnSum* U, int64_t f, int64_t l) {
    __m256i wide = _mm256_setzero_si256();
    int64_t j = f;
    for (; j + 2 <= l; j += 2) wide = _mm256_add_epi32(wide, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(T + j)));
    __m128i s = _mm_add_epi32(_mm_add_epi32(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1)), Load(U + l));
    if (j < l) s = _mm_add_epi32(s, Load(T + j));
    return s;
}

// The alpha range word of columns [f, l].
TARN_AVX2 inline uint32_t BlockRange(const uint32_t* alphas, int64_t f, int64_t l) {
    __m128i range = _mm_cvtsi32_si128(static_cast<int>(alphas[l]));
    int64_t j = f;
    for (; j + 4 <= l; j += 4) range = _mm_max_epu8(range, _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + j)));
    for (; j < l; ++j) range = _mm_max_epu8(range, _mm_cvtsi32_si128(static_cast<int>(alphas[j])));
    range = _mm_max_epu8(range, _mm_shuffle_epi32(range, 0x4E));
    range = _mm_max_epu8(range, _mm_shuffle_epi32(range, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(range));
}

// One destination pixel from the column sums of its block [f, l) and boundary column l.
TARN_AVX2 inline uint32_t AlignedPixel(const AlignedRowJob& job, const ColumnSum* T, const ColumnSum* U,
                                       const uint32_t* alphas, int64_t f, int64_t l) {
    __m128i s = BlockSum(T, U, f, l);
    if (f < l) {
        const uint32_t* p = job.top + f;
        __m128i g = _mm_setzero_si128();
        for (size_t r = 1; r < job.blockRows; ++r) g = _mm_add_epi32(g, PixelRounding(p[static_cast<ptrdiff_t>(r) * job.stride]));
        s = _mm_sub_epi32(s, g);
    }
    const uint32_t v = static_cast<uint32_t>(_mm_extract_epi32(s, 3));
    if (v == 0) return 0;
    const uint32_t word = BlockRange(alphas, f, l);
    const uint32_t lo = AlphaWordLo(word), hi = AlphaWordHi(word);
    const double numerator = lo == hi ? lo : ToDouble(uint64_t{v} * 255);
    const double denominator = lo == hi ? 1 : AlignedWeightSum(static_cast<uint64_t>(l - f), job.blockRows);
    return PackQuotients(U64ToDouble(_mm256_cvtepu32_epi64(s)), v, numerator, denominator, -1);
}

// Any four columns, one by one.
TARN_AVX2 inline FourSums AnyFour(const ColumnSum* T, const ColumnSum* U, const uint32_t* alphas, const StripColumn* c) {
    FourSums f;
    __m128i s[4];
    alignas(16) uint32_t range[4], columns[4];
    for (int i = 0; i < 4; ++i) {
        s[i] = BlockSum(T, U, c[i].first, c[i].last);
        range[i] = BlockRange(alphas, c[i].first, c[i].last);
        columns[i] = static_cast<uint32_t>(c[i].last - c[i].first);
    }
    Transpose(s, f);
    f.range = _mm_load_si128(reinterpret_cast<const __m128i*>(range));
    f.blockColumns = _mm_load_si128(reinterpret_cast<const __m128i*>(columns));
    return f;
}

// Four columns of blocks four wide (a ratio of 4), starting at source column f: two pixels per
// register while the block sums are formed.
TARN_AVX2 inline FourSums FourByFour(const ColumnSum* T, const ColumnSum* U, const uint32_t* alphas, int64_t f) {
    __m256i pair[2];
    for (int k = 0; k < 2; ++k) {
        const __m256i* t = reinterpret_cast<const __m256i*>(T + f + 8 * k);
        const __m256i a = _mm256_add_epi32(_mm256_loadu_si256(t), _mm256_loadu_si256(t + 1));      // 0+2, 1+3
        const __m256i b = _mm256_add_epi32(_mm256_loadu_si256(t + 2), _mm256_loadu_si256(t + 3));  // 4+6, 5+7
        const __m256i blocks = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
        const __m256i bounds = _mm256_set_m128i(Load(U + f + 8 * k + 8), Load(U + f + 8 * k + 4));
        pair[k] = _mm256_add_epi32(blocks, bounds);
    }
    __m128i s[4] = {_mm256_castsi256_si128(pair[0]), _mm256_extracti128_si256(pair[0], 1),
                    _mm256_castsi256_si128(pair[1]), _mm256_extracti128_si256(pair[1], 1)};
    FourSums sums;
    Transpose(s, sums);
    // Ranges: columns 4i .. 4i + 3 of each pixel transposed into lanes, then column 4i + 4.
    __m128i w[4];
    for (int i = 0; i < 4; ++i) w[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + f + 4 * i));
    const __m128i t0 = _mm_unpacklo_epi32(w[0], w[1]), t1 = _mm_unpacklo_epi32(w[2], w[3]);
    const __m128i t2 = _mm_unpackhi_epi32(w[0], w[1]), t3 = _mm_unpackhi_epi32(w[2], w[3]);
    const __m128i first = _mm_unpacklo_epi64(t0, t1);
    __m128i range = _mm_max_epu8(_mm_max_epu8(first, _mm_unpackhi_epi64(t0, t1)),
                                 _mm_max_epu8(_mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)));
    const __m128i next = _mm_alignr_epi8(_mm_cvtsi32_si128(static_cast<int>(alphas[f + 16])), first, 4);
    sums.range = _mm_max_epu8(range, next);
    sums.blockColumns = _mm_set1_epi32(4);
    return sums;
}

// Destination pixels x .. x + 3 from their sums: the first columns' rounding below the first
// row taken off, then the quotients.
TARN_AVX2 inline void FinishFour(const AlignedRowJob& job, size_t x, FourSums f) {
    const StripColumn* c = job.cols + x;
    const __m128i hasBlock = _mm_cmpgt_epi32(f.blockColumns, _mm_setzero_si128());
    if (job.blockRows > 1 && _mm_movemask_epi8(hasBlock) != 0) {
        const __m128i index = _mm_setr_epi32(0, static_cast<int>(c[1].first - c[0].first),
                                             static_cast<int>(c[2].first - c[0].first), static_cast<int>(c[3].first - c[0].first));
        const int* base = reinterpret_cast<const int*>(job.top + c[0].first);
        for (size_t row = 1; row < job.blockRows; ++row) {
            TakeRounding(f, _mm_i32gather_epi32(base + static_cast<ptrdiff_t>(row) * job.stride, index, 4), hasBlock);
        }
    }
    const __m256d weight = AlignedWeights(f.blockColumns, job.blockRows);
    PackFour(f, weight, _mm256_div_pd(_mm256_set1_pd(1.0), weight), job.out + x);
}

}  // namespace

TARN_AVX2 void AlignedRowAvx2(const AlignedRowJob& job) {
    size_t x = WholeBlockRowsAvx2(job);
    if (x == job.count) return;
    AlignedColumnsAvx2(job, static_cast<size_t>(job.cols[x].first - job.spanFirst));

    const ColumnSum* T = job.blockSums - job.spanFirst;
    const ColumnSum* U = job.boundarySums - job.spanFirst;
    const uint32_t* alphas = job.alphas - job.spanFirst;
    for (; x + 4 <= job.count; x += 4) {
        const StripColumn* c = job.cols + x;
        const bool byFour = c[0].last == c[0].first + 4 && c[3].first == c[0].first + 12 && c[3].last == c[0].first + 16;
        FinishFour(job, x, byFour ? FourByFour(T, U, alphas, c[0].first) : AnyFour(T, U, alphas, c));
    }
    for (; x < job.count; ++x) job.out[x] = AlignedPixel(job, T, U, alphas, job.cols[x].first, job.cols[x].last);
}

}  // namespace tarn::resample

#endif
