// AVX2 destination-row kernels of the area average (UniformRowJob, MixedRowJob); same results
// as the portable ones.
#include "image/ResampleKernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstddef>

#include "image/ResampleAvx2.h"

namespace tarn::resample {
namespace {

// a * b + c; exact here, since every value is an integer far below 2^53.
TARN_AVX2 inline __m256d MulAdd(__m256d a, __m256d b, __m256d c) { return _mm256_fmadd_pd(a, b, c); }

// Four 32-bit lanes (b, g, r, a) of a sum or pixel as doubles.
TARN_AVX2 inline __m256d PlainToDouble(const PlainSum& p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p))));
}
TARN_AVX2 inline __m256d PixelToDouble(uint32_t p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p))));
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

}  // namespace

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

}  // namespace tarn::resample

#endif
