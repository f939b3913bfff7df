// AVX2 column sums of the aligned-footprint kernel (AlignedRowJob): T, U and the alpha range
// of every source column of a span, same results as AlignedColumn; and, for blocks four
// columns wide, the destination pixels straight from those sums in registers.
//
// Down the block rows two rows go at once: their bytes interleaved and widened to 16 bits,
// one multiply-add gives b*a + b'*a' (and a + a' in the alpha lane) per 32-bit lane, so the
// column sums P take one instruction per two pixels. Eight columns land as (0 | 4), (1 | 5),
// (2 | 6), (3 | 7) in the two 128-bit lanes, so three additions give two four-wide blocks.
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

TARN_AVX2 inline __m256i Times255(__m256i v) { return _mm256_sub_epi32(_mm256_slli_epi32(v, 8), v); }

// P of two rows of two columns widened to 16 bits, one column per 128-bit lane.
TARN_AVX2 inline __m256i PremultipliedWide(__m256i w) {
    const __m256i alphas = _mm256_shuffle_epi8(
        w, _mm256_setr_epi8(12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14,
                            15, 12, 13, 14, 15, 12, 13, 14, 15));
    return _mm256_madd_epi16(w, _mm256_blend_epi16(alphas, _mm256_set1_epi16(1), 0xC0));
}

// Adds P of rows x0 and x1 over eight columns to sums of columns (0, 4), (1, 5), (2, 6), (3, 7).
TARN_AVX2 inline void AddPairs8(__m256i x0, __m256i x1, __m256i s[4]) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(x0, x1), hi = _mm256_unpackhi_epi8(x0, x1);
    s[0] = _mm256_add_epi32(s[0], PremultipliedWide(_mm256_unpacklo_epi8(lo, zero)));
    s[1] = _mm256_add_epi32(s[1], PremultipliedWide(_mm256_unpackhi_epi8(lo, zero)));
    s[2] = _mm256_add_epi32(s[2], PremultipliedWide(_mm256_unpacklo_epi8(hi, zero)));
    s[3] = _mm256_add_epi32(s[3], PremultipliedWide(_mm256_unpackhi_epi8(hi, zero)));
}

TARN_AVX2 inline __m256i Load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

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

// G of eight pixels, still packed as pixels: (b, g, r, 1) where alpha >= 2, else 0.
TARN_AVX2 inline __m256i RoundingPixels(__m256i x) {
    const __m256i keep = _mm256_cmpgt_epi32(_mm256_srli_epi32(x, 24), _mm256_set1_epi32(1));
    const __m256i colour = _mm256_or_si256(_mm256_and_si256(x, _mm256_set1_epi32(0x00FFFFFF)), _mm256_set1_epi32(0x01000000));
    return _mm256_and_si256(colour, keep);
}

// What the destination pixels of two blocks four columns wide need of their eight columns,
// one block per 128-bit lane as (b, g, r, v): 255 * P(block rows) - G(first row) +
// P(boundary row) over the block, P of its first column over all rows (the boundary of the
// block to its left), G of its first column below the first row; and per column the bytes'
// minimum and maximum over all rows, for the alpha range.
struct EightSums {
    __m256i blocks, firstColumn, firstRounding, lo, hi;
};

TARN_AVX2 inline EightSums SumEight(const AlignedRowJob& job, const uint32_t* top) {
    const ptrdiff_t W = job.stride;
    const __m256i zero = _mm256_setzero_si256();
    __m256i s[4] = {zero, zero, zero, zero}, b[4] = {zero, zero, zero, zero};
    const __m256i bottom = Load8(top + static_cast<ptrdiff_t>(job.blockRows) * W);
    EightSums e;
    e.lo = bottom;
    e.hi = bottom;
    e.firstRounding = zero;
    const uint32_t* p = top;
    for (size_t r = 0; r < job.blockRows; r += 2, p += 2 * W) {
        const bool pair = r + 1 < job.blockRows;
        const __m256i x0 = Load8(p), x1 = pair ? Load8(p + W) : zero;
        e.lo = _mm256_min_epu8(e.lo, pair ? _mm256_min_epu8(x0, x1) : x0);
        e.hi = _mm256_max_epu8(e.hi, _mm256_max_epu8(x0, x1));
        AddPairs8(x0, x1, s);
        // Rows below the first: G of columns 0 and 4 as (0 | 4).
        const __m256i g = _mm256_add_epi16(_mm256_unpacklo_epi8(r > 0 ? RoundingPixels(x0) : zero, zero),
                                           _mm256_unpacklo_epi8(RoundingPixels(x1), zero));
        e.firstRounding = _mm256_add_epi32(e.firstRounding, _mm256_unpacklo_epi16(g, zero));
    }
    AddPairs8(bottom, zero, b);
    const __m256i first = RoundingPixels(Load8(top));
    const __m256i g16 = _mm256_add_epi16(_mm256_unpacklo_epi8(first, zero), _mm256_unpackhi_epi8(first, zero));
    const __m256i firstRow = _mm256_add_epi32(_mm256_unpacklo_epi16(g16, zero), _mm256_unpackhi_epi16(g16, zero));
    const __m256i P = _mm256_add_epi32(_mm256_add_epi32(s[0], s[1]), _mm256_add_epi32(s[2], s[3]));
    const __m256i B = _mm256_add_epi32(_mm256_add_epi32(b[0], b[1]), _mm256_add_epi32(b[2], b[3]));
    e.blocks = _mm256_add_epi32(_mm256_sub_epi32(Times255(P), firstRow), B);
    e.firstColumn = _mm256_add_epi32(s[0], b[0]);
    return e;
}

// Per 128-bit lane, broadcast: the least (or greatest) alpha of the block's four columns and
// of its boundary column, the first column of the next lane (of `next` for the high lane).
template <bool Greatest>
TARN_AVX2 inline __m256i Pick(__m256i x, __m256i y) {
    if constexpr (Greatest) return _mm256_max_epu32(x, y);
    return _mm256_min_epu32(x, y);
}
template <bool Greatest>
TARN_AVX2 inline __m256i BlockAlpha(__m256i bytes, __m256i next) {
    __m256i a = _mm256_srli_epi32(bytes, 24);
    a = Pick<Greatest>(a, _mm256_shuffle_epi32(a, 0x4E));
    a = Pick<Greatest>(a, _mm256_shuffle_epi32(a, 0xB1));
    return Pick<Greatest>(a, _mm256_shuffle_epi32(_mm256_srli_epi32(_mm256_permute2x128_si256(bytes, next, 0x21), 24), 0));
}

}  // namespace

TARN_AVX2 size_t FourWideRowsAvx2(const AlignedRowJob& job) {
    const StripColumn* c = job.cols;
    if (job.blockRows == 0 || job.count < 4 || c[0].first != job.spanFirst || c[0].last != c[0].first + 4) return 0;
    const uint32_t* top = job.top + job.spanFirst;
    const __m256i pickLanes = _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4);
    // Every footprint here weighs the same.
    const __m256d weight = AlignedWeights(_mm_set1_epi32(4), job.blockRows);
    const __m256d weightReciprocal = _mm256_div_pd(_mm256_set1_pd(1.0), weight);
    size_t x = 0;
    EightSums e[3];
    e[0] = SumEight(job, top);
    // Pixels x .. x + 3 read columns 4x .. 4x + 16 (footprints follow one another, so the
    // first and the last being four wide and 12 apart makes all four so); the columns from
    // 4x + 16 on are summed eight at a time and carried to the next step.
    for (; x + 4 <= job.count && 4 * x + 24 <= job.spanCount; x += 4) {
        const int64_t first = job.spanFirst + static_cast<int64_t>(4 * x);
        if (c[x].first != first || c[x].last != first + 4 || c[x + 3].first != first + 12 || c[x + 3].last != first + 16)
            break;
        e[1] = SumEight(job, top + 4 * x + 8);
        e[2] = SumEight(job, top + 4 * x + 16);
        __m128i pixels[4], words[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i boundary = _mm256_permute2x128_si256(e[k].firstColumn, e[k + 1].firstColumn, 0x21);
            const __m256i sums = _mm256_sub_epi32(_mm256_add_epi32(e[k].blocks, boundary), e[k].firstRounding);
            pixels[2 * k] = _mm256_castsi256_si128(sums);
            pixels[2 * k + 1] = _mm256_extracti128_si256(sums, 1);
            const __m256i lo = BlockAlpha<false>(e[k].lo, e[k + 1].lo), hi = BlockAlpha<true>(e[k].hi, e[k + 1].hi);
            const __m256i word = _mm256_or_si256(_mm256_slli_epi32(hi, 8), _mm256_sub_epi32(_mm256_set1_epi32(255), lo));
            words[k] = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(word, pickLanes));
        }
        FourSums f;
        Transpose(pixels, f);
        f.range = _mm_unpacklo_epi64(words[0], words[1]);
        PackFour(f, weight, weightReciprocal, job.out + x);
        e[0] = e[2];
    }
    return x;
}

TARN_AVX2 void AlignedColumnsAvx2(const AlignedRowJob& job, size_t from) {
    size_t c = from;
    for (; c + 8 <= job.spanCount; c += 8) EightColumns(job, c);
    for (; c < job.spanCount; ++c) AlignedColumn(job, c);
}

}  // namespace tarn::resample

#endif
