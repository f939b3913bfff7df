// AVX2 destination pixels of the aligned-footprint kernel for blocks 4, 8 or 16 columns
// wide (whole-number ratios such as 1024 -> 256 or 4096 -> 256): the columns of each block
// are summed and combined in registers, with no column tables in between; same results as
// AlignedRowScalar.
//
// Eight columns summed two rows at a time land as (0 | 4), (1 | 5), (2 | 6), (3 | 7) in the
// two 128-bit lanes, so three additions give two four-wide blocks, or the two halves of a
// wider block.
#include "image/ResampleAligned.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include "image/ResampleAlignedAvx2.h"

namespace tarn::resample {
namespace {

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

// Whether each block (128-bit lane) has one alpha over all its rows, the boundary row included,
// given the bytes' minimum and maximum over those rows.
TARN_AVX2 inline bool OneAlphaPerBlock(__m256i lo, __m256i hi) {
    const __m256i first = _mm256_shuffle_epi32(lo, 0);
    const __m256i same = _mm256_and_si256(_mm256_cmpeq_epi8(lo, first), _mm256_cmpeq_epi8(hi, first));
    return (static_cast<uint32_t>(_mm256_movemask_epi8(same)) & 0x88888888u) == 0x88888888u;
}

// Per 128-bit lane, the channel totals of its four pixels (widened to 16 bits as two pixels
// in `l`, two in `h`) in 32-bit lanes.
TARN_AVX2 inline __m256i AcrossBlock(__m256i l, __m256i h) {
    const __m256i t = _mm256_add_epi16(l, h);
    return _mm256_unpacklo_epi16(_mm256_add_epi16(t, _mm256_bsrli_epi128(t, 8)), _mm256_setzero_si256());
}

// EightSums of blocks that each have one alpha a: then P = (a, a, a, 1) * the plain channel
// sums, and G = [a >= 2] * (b, g, r, 1), so plain sums down the rows (16 bits hold 64 rows of
// four columns) and one multiply per block give what the weighted sums give. Sets e.lo and
// e.hi; false, the blocks' sums not made, when a block has more than one alpha.
template <bool FirstColumns>
TARN_AVX2 inline bool OneAlphaSums(const AlignedRowJob& job, const uint32_t* top, __m256i bottom, EightSums& e) {
    const ptrdiff_t W = job.stride;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i x0 = Load8(top);
    const __m256i fl = _mm256_unpacklo_epi8(x0, zero), fh = _mm256_unpackhi_epi8(x0, zero);
    __m256i sl = fl, sh = fh;
    e.lo = _mm256_min_epu8(bottom, x0);
    e.hi = _mm256_max_epu8(bottom, x0);
    for (size_t r = 1; r < job.blockRows; ++r) {
        const __m256i x = Load8(top + static_cast<ptrdiff_t>(r) * W);
        e.lo = _mm256_min_epu8(e.lo, x);
        e.hi = _mm256_max_epu8(e.hi, x);
        sl = _mm256_add_epi16(sl, _mm256_unpacklo_epi8(x, zero));
        sh = _mm256_add_epi16(sh, _mm256_unpackhi_epi8(x, zero));
    }
    if (!OneAlphaPerBlock(e.lo, e.hi)) return false;
    const __m256i bl = _mm256_unpacklo_epi8(bottom, zero);
    const __m256i alpha = _mm256_shuffle_epi8(
        e.lo, _mm256_setr_epi8(3, -1, -1, -1, 3, -1, -1, -1, 3, -1, -1, -1, 3, -1, -1, -1, 3, -1, -1, -1, 3, -1, -1, -1,
                               3, -1, -1, -1, 3, -1, -1, -1));
    const __m256i weight = _mm256_blend_epi32(alpha, _mm256_set1_epi32(1), 0x88);  // (a, a, a, 1)
    const __m256i rounds = _mm256_cmpgt_epi32(alpha, _mm256_set1_epi32(1));
    const __m256i firstRow = _mm256_and_si256(rounds, _mm256_blend_epi32(AcrossBlock(fl, fh), _mm256_set1_epi32(4), 0x88));
    const __m256i columns =
        _mm256_add_epi32(Times255(AcrossBlock(sl, sh)), AcrossBlock(bl, _mm256_unpackhi_epi8(bottom, zero)));
    e.blocks = _mm256_sub_epi32(_mm256_mullo_epi32(columns, weight), firstRow);
    e.firstColumn = _mm256_mullo_epi32(_mm256_unpacklo_epi16(_mm256_add_epi16(sl, bl), zero), weight);
    e.firstRounding = zero;
    if constexpr (FirstColumns) {
        const __m256i below = _mm256_unpacklo_epi16(_mm256_sub_epi16(sl, fl), zero);
        e.firstRounding = _mm256_and_si256(
            rounds, _mm256_blend_epi32(below, _mm256_set1_epi32(static_cast<int>(job.blockRows) - 1), 0x88));
    }
    return true;
}

// The first-column rounding only when the eight columns start a block (`FirstColumns`).
// Inlined, so that the constants and sums stay in registers across a row of blocks.
// `oneAlpha` guesses from the columns before whether these blocks each have one alpha (plain
// sums then suffice) and is left saying whether they had: a wrong guess reads the rows twice.
template <bool FirstColumns = true>
TARN_AVX2 __attribute__((always_inline)) inline EightSums SumEight(const AlignedRowJob& job, const uint32_t* top,
                                                                   bool& oneAlpha) {
    const ptrdiff_t W = job.stride;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bottom = Load8(top + static_cast<ptrdiff_t>(job.blockRows) * W);
    EightSums e;
    if (oneAlpha && OneAlphaSums<FirstColumns>(job, top, bottom, e)) return e;
    __m256i s[4] = {zero, zero, zero, zero}, b[4] = {zero, zero, zero, zero};
    __m256i rounding = zero;
    e.lo = bottom;
    e.hi = bottom;
    const uint32_t* p = top;
    size_t r = 0;
    for (; r + 1 < job.blockRows; r += 2, p += 2 * W) {
        const __m256i x0 = Load8(p), x1 = Load8(p + W);
        e.lo = _mm256_min_epu8(e.lo, _mm256_min_epu8(x0, x1));
        e.hi = _mm256_max_epu8(e.hi, _mm256_max_epu8(x0, x1));
        AddPairs8<FirstColumns>(x0, x1, s, rounding);
    }
    if (r < job.blockRows) {
        const __m256i x0 = Load8(p);
        e.lo = _mm256_min_epu8(e.lo, x0);
        e.hi = _mm256_max_epu8(e.hi, x0);
        AddPairs8<FirstColumns>(x0, zero, s, rounding);
    }
    oneAlpha = OneAlphaPerBlock(e.lo, e.hi);
    AddPairs8(bottom, zero, b);
    const __m256i first = RoundingPixels(Load8(top));
    const __m256i g16 = _mm256_add_epi16(_mm256_unpacklo_epi8(first, zero), _mm256_unpackhi_epi8(first, zero));
    const __m256i firstRow = _mm256_add_epi32(_mm256_unpacklo_epi16(g16, zero), _mm256_unpackhi_epi16(g16, zero));
    const __m256i P = _mm256_add_epi32(_mm256_add_epi32(s[0], s[1]), _mm256_add_epi32(s[2], s[3]));
    const __m256i B = _mm256_add_epi32(_mm256_add_epi32(b[0], b[1]), _mm256_add_epi32(b[2], b[3]));
    e.blocks = _mm256_add_epi32(_mm256_sub_epi32(Times255(P), firstRow), B);
    e.firstColumn = _mm256_add_epi32(s[0], b[0]);
    // G of the first column over all rows, less that of the first row: the rows below it.
    e.firstRounding = zero;
    if constexpr (FirstColumns)
        e.firstRounding = _mm256_sub_epi32(_mm256_madd_epi16(rounding, _mm256_set1_epi16(1)),
                                           _mm256_unpacklo_epi16(_mm256_unpacklo_epi8(first, zero), zero));
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

// The sums of destination pixels x .. x + 3, whose blocks start at column 4x of `top` (the
// span's first column) and are all four wide: e[0] holds the sums of columns 4x .. 4x + 7 on
// entry, and those of 4x + 8 .. 4x + 15 on return.
TARN_AVX2 __attribute__((always_inline)) inline FourSums FourBlocks(const AlignedRowJob& job, const uint32_t* top, size_t x,
                                                                    EightSums e[3], bool& oneAlpha) {
    const __m256i pickLanes = _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4);
    e[1] = SumEight(job, top + 4 * x + 8, oneAlpha);
    e[2] = SumEight(job, top + 4 * x + 16, oneAlpha);
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
    e[0] = e[2];
    return f;
}

// Whether destination pixels x .. x + 3 have blocks four wide from column 4x of the span.
inline bool FourWideAt(const AlignedRowJob& job, size_t x) {
    const StripColumn* c = job.cols;
    const int64_t first = job.spanFirst + static_cast<int64_t>(4 * x);
    return !c || (c[x].first == first && c[x].last == first + 4 && c[x + 3].first == first + 12 &&
                  c[x + 3].last == first + 16);
}

TARN_AVX2 size_t FourWide(const AlignedRowJob& job) {
    const uint32_t* top = job.top + job.spanFirst;
    // Every footprint here weighs the same.
    const __m256d weight = AlignedWeights(_mm_set1_epi32(4), job.blockRows);
    const __m256d weightReciprocal = _mm256_div_pd(_mm256_set1_pd(1.0), weight);
    size_t x = 0;
    EightSums e[3];
    bool oneAlpha = true;
    e[0] = SumEight(job, top, oneAlpha);
    // Pixels x .. x + 3 read columns 4x .. 4x + 16 (footprints follow one another, so the
    // first and the last being four wide and 12 apart makes all four so); the columns from
    // 4x + 16 on are summed eight at a time and carried to the next step. Up to 16 block rows
    // the sums stay below 2^31, and eight pixels share single-precision quotients.
    if (job.blockRows <= 16) {
        const uint32_t total = AlignedWeightSum(4, job.blockRows);
        const __m256i weight8 = _mm256_set1_epi32(static_cast<int>(total));
        const __m256 reciprocal8 = _mm256_rcp_ps(_mm256_set1_ps(static_cast<float>(total)));
        for (; x + 8 <= job.count && 4 * x + 40 <= job.spanCount && FourWideAt(job, x) && FourWideAt(job, x + 4); x += 8) {
            const FourSums f0 = FourBlocks(job, top, x, e, oneAlpha);
            const FourSums f1 = FourBlocks(job, top, x + 4, e, oneAlpha);
            PackEight(f0, f1, weight8, reciprocal8, job.out + x);
        }
    }
    for (; x + 4 <= job.count && 4 * x + 24 <= job.spanCount && FourWideAt(job, x); x += 4)
        PackFour(FourBlocks(job, top, x, e, oneAlpha), weight, weightReciprocal, job.out + x);
    return x;
}

// The least (or greatest) alpha over the eight columns of `bytes`.
template <bool Greatest>
TARN_AVX2 inline uint32_t SpanAlpha(__m256i bytes) {
    __m256i a = _mm256_srli_epi32(bytes, 24);
    a = Pick<Greatest>(a, _mm256_permute2x128_si256(a, a, 1));
    a = Pick<Greatest>(a, _mm256_shuffle_epi32(a, 0x4E));
    a = Pick<Greatest>(a, _mm256_shuffle_epi32(a, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(a)));
}

// Blocks of Groups * 8 columns, four destination pixels at a time; as FourWide.
template <int Groups>
TARN_AVX2 size_t WideBlocks(const AlignedRowJob& job) {
    constexpr int64_t kWidth = 8 * Groups;
    const StripColumn* c = job.cols;
    const __m256d weight = AlignedWeights(_mm_set1_epi32(kWidth), job.blockRows);
    const __m256d weightReciprocal = _mm256_div_pd(_mm256_set1_pd(1.0), weight);
    const uint32_t* top = job.top + job.spanFirst;
    const __m256i firstLane = _mm256_setzero_si256();
    size_t x = 0;
    bool oneAlpha = true;
    EightSums next = SumEight<false>(job, top, oneAlpha);
    for (; x + 4 <= job.count && kWidth * static_cast<int64_t>(x + 4) + 8 <= static_cast<int64_t>(job.spanCount); x += 4) {
        const int64_t first = job.spanFirst + kWidth * static_cast<int64_t>(x);
        if (c[x].first != first || c[x].last != first + kWidth || c[x + 3].first != first + 3 * kWidth ||
            c[x + 3].last != first + 4 * kWidth)
            break;
        __m128i pixels[4];
        alignas(16) uint32_t words[4];
        for (int k = 0; k < 4; ++k) {
            const uint32_t* block = top + kWidth * static_cast<int64_t>(x + k);
            const EightSums head = next;
            __m256i sums = head.blocks, lo = head.lo, hi = head.hi;
            for (int g = 1; g < Groups; ++g) {
                const EightSums e = SumEight<false>(job, block + 8 * g, oneAlpha);
                sums = _mm256_add_epi32(sums, e.blocks);
                lo = _mm256_min_epu8(lo, e.lo);
                hi = _mm256_max_epu8(hi, e.hi);
            }
            next = SumEight<false>(job, block + kWidth, oneAlpha);
            // Both halves of the block and its boundary (the next block's first column).
            pixels[k] = _mm_add_epi32(_mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)),
                                      _mm256_castsi256_si128(next.firstColumn));
            lo = _mm256_min_epu8(lo, _mm256_permutevar8x32_epi32(next.lo, firstLane));
            hi = _mm256_max_epu8(hi, _mm256_permutevar8x32_epi32(next.hi, firstLane));
            words[k] = SpanAlpha<true>(hi) << 8 | (255 - SpanAlpha<false>(lo));
        }
        FourSums f;
        Transpose(pixels, f);
        f.range = _mm_load_si128(reinterpret_cast<const __m128i*>(words));
        // The first columns' rounding: one pixel per block and row, too few to sum above.
        const int* base = reinterpret_cast<const int*>(top + kWidth * static_cast<int64_t>(x));
        const __m128i index = _mm_setr_epi32(0, kWidth, 2 * kWidth, 3 * kWidth);
        for (size_t row = 1; row < job.blockRows; ++row)
            TakeRounding(f, _mm_i32gather_epi32(base + static_cast<ptrdiff_t>(row) * job.stride, index, 4), _mm_set1_epi32(-1));
        PackFour(f, weight, weightReciprocal, job.out + x);
    }
    return x;
}

}  // namespace

TARN_AVX2 size_t FourWideRowAvx2(const AlignedRowJob& job) {
    return job.blockRows == 0 || job.count < 4 || job.spanCount < 24 ? 0 : FourWide(job);
}

TARN_AVX2 size_t WholeBlockRowsAvx2(const AlignedRowJob& job) {
    const StripColumn* c = job.cols;
    if (job.blockRows == 0 || job.count < 4 || c[0].first != job.spanFirst) return 0;
    switch (c[0].last - c[0].first) {
        case 4: return FourWide(job);
        case 8: return WideBlocks<1>(job);
        case 16: return WideBlocks<2>(job);
        default: return 0;
    }
}

}  // namespace tarn::resample

#endif
