// AVX2 kernel of the area average for footprints of at most 2 x 2 source pixels; same results
// as NarrowRowScalar. Eight destination pixels at a time, one per 32-bit lane: their pixels
// gathered, every sum exact in 32 bits (at most 4 * 255 * 65025), and the quotients taken
// through a float reciprocal that an exact integer remainder corrects.
#include "image/ResampleKernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include "image/ResampleAvx2.h"

namespace tarn::resample {
namespace {

// Adds one pixel per lane with column weights w (0: absent) in a row of weight B. An opaque
// pixel's share is Div255(255 * C) = C - (C >= 258), and it needs no alpha range.
struct Sums8 {
    __m256i b, g, r, v, weight, lo, hi;
};
template <bool Opaque>
TARN_AVX2 inline void AddPixels(Sums8& s, __m256i p, __m256i w, __m256i B, __m256i present) {
    const __m256i byte = _mm256_set1_epi32(255);
    // w and B are at most 255: the product fits the low half of each lane.
    const __m256i C = _mm256_and_si256(present, _mm256_max_epu32(_mm256_mullo_epi16(w, B), byte));
    __m256i v;
    if constexpr (Opaque) {
        v = _mm256_add_epi32(C, _mm256_cmpgt_epi32(C, _mm256_set1_epi32(257)));
    } else {
        const __m256i a = _mm256_srli_epi32(p, 24);
        const __m256i t = _mm256_add_epi32(_mm256_mullo_epi32(a, C), _mm256_set1_epi32(1));
        v = _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);  // Div255(a * C), 0 if absent
        s.weight = _mm256_add_epi32(s.weight, C);
        // Absent pixels leave the alpha range alone.
        s.lo = _mm256_min_epu32(s.lo, _mm256_or_si256(a, _mm256_andnot_si256(present, byte)));
        s.hi = _mm256_max_epu32(s.hi, _mm256_and_si256(a, present));
    }
    s.b = _mm256_add_epi32(s.b, _mm256_mullo_epi32(_mm256_and_si256(p, byte), v));
    s.g = _mm256_add_epi32(s.g, _mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(p, 8), byte), v));
    s.r = _mm256_add_epi32(s.r, _mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(p, 16), byte), v));
    s.v = _mm256_add_epi32(s.v, v);
}

// The eight footprints of one step, their column entries transposed into registers. Lanes
// hold pixels 0, 2, 4, 6 | 1, 3, 5, 7, the same order in every field; undone at the store.
struct Step8 {
    __m256i first, last, wFirst, wLast, hasLast;
};
TARN_AVX2 inline Step8 StepOf(const NarrowRowJob& job, size_t x) {
    const __m256i* e = reinterpret_cast<const __m256i*>(job.cols + x);
    const __m256i e01 = _mm256_loadu_si256(e), e23 = _mm256_loadu_si256(e + 1);
    const __m256i e45 = _mm256_loadu_si256(e + 2), e67 = _mm256_loadu_si256(e + 3);
    const __m256i a0 = _mm256_unpacklo_epi32(e01, e23), a1 = _mm256_unpackhi_epi32(e01, e23);
    const __m256i b0 = _mm256_unpacklo_epi32(e45, e67), b1 = _mm256_unpackhi_epi32(e45, e67);
    Step8 t;
    t.first = _mm256_unpacklo_epi64(a0, b0);
    t.last = _mm256_unpackhi_epi64(a0, b0);
    t.wFirst = _mm256_unpacklo_epi64(a1, b1);
    t.wLast = _mm256_unpackhi_epi64(a1, b1);
    t.hasLast = _mm256_xor_si256(_mm256_cmpeq_epi32(t.wLast, _mm256_setzero_si256()), _mm256_set1_epi32(-1));
    return t;
}

TARN_AVX2 inline void Store8(const NarrowRowJob& job, size_t x, __m256i out) {
    out = _mm256_permutevar8x32_epi32(out, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(job.out + x), out);
}

TARN_AVX2 inline __m256i Colour(const Sums8& s, __m256i v) {
    const __m256 reciprocal = _mm256_rcp_ps(_mm256_cvtepi32_ps(v));
    const __m256i qb = Quotient8(s.b, v, reciprocal), qg = Quotient8(s.g, v, reciprocal), qr = Quotient8(s.r, v, reciprocal);
    return _mm256_or_si256(_mm256_or_si256(qb, _mm256_slli_epi32(qg, 8)), _mm256_slli_epi32(qr, 16));
}

// Eight footprints within source columns base .. base + 7 of rows whose pixels there are all
// opaque (most enlargements of opaque pictures): the alpha is 255 and every share positive.
TARN_AVX2 inline void EightOpaquePixels(const NarrowRowJob& job, size_t x, const Step8& t, int32_t base,
                                        __m256i top, __m256i bottom) {
    const __m256i zero = _mm256_setzero_si256(), all = _mm256_set1_epi32(-1);
    Sums8 s{zero, zero, zero, zero, zero, zero, zero};
    const __m256i firstAt = _mm256_sub_epi32(t.first, _mm256_set1_epi32(base));
    const __m256i lastAt = _mm256_sub_epi32(t.last, _mm256_set1_epi32(base));
    const __m256i B0 = _mm256_set1_epi32(static_cast<int>(job.B0));
    AddPixels<true>(s, _mm256_permutevar8x32_epi32(top, firstAt), t.wFirst, B0, all);
    AddPixels<true>(s, _mm256_permutevar8x32_epi32(top, lastAt), t.wLast, B0, t.hasLast);
    if (job.bottom) {
        const __m256i B1 = _mm256_set1_epi32(static_cast<int>(job.B1));
        AddPixels<true>(s, _mm256_permutevar8x32_epi32(bottom, firstAt), t.wFirst, B1, all);
        AddPixels<true>(s, _mm256_permutevar8x32_epi32(bottom, lastAt), t.wLast, B1, t.hasLast);
    }
    Store8(job, x, _mm256_or_si256(Colour(s, s.v), _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
}

TARN_AVX2 inline void EightPixels(const NarrowRowJob& job, size_t x) {
    const Step8 t = StepOf(job, x);
    const __m256i zero = _mm256_setzero_si256(), all = _mm256_set1_epi32(-1);
    // When the eight footprints lie within eight source columns (enlarging by 8/7 or more),
    // one load and a permutation replace each gather.
    const int32_t base = job.cols[x].first;
    const bool window = job.cols[x + 7].last - base < 8 && base + 8 <= job.width;
    if (window) {
        const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(job.top + base));
        const __m256i bottom = job.bottom ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(job.bottom + base)) : top;
        if (_mm256_testc_si256(_mm256_and_si256(top, bottom), _mm256_set1_epi32(static_cast<int>(0xFF000000u)))) {
            EightOpaquePixels(job, x, t, base, top, bottom);
            return;
        }
    }
    Sums8 s{zero, zero, zero, zero, zero, _mm256_set1_epi32(255), zero};
    const __m256i firstAt = _mm256_sub_epi32(t.first, _mm256_set1_epi32(base));
    const __m256i lastAt = _mm256_sub_epi32(t.last, _mm256_set1_epi32(base));
    const __m256i B0 = _mm256_set1_epi32(static_cast<int>(job.B0));
    const __m256i B1 = _mm256_set1_epi32(static_cast<int>(job.B1));
    for (const uint32_t* row : {job.top, job.bottom}) {
        if (!row) break;
        const __m256i B = row == job.top ? B0 : B1;
        if (window) {
            const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + base));
            AddPixels<false>(s, _mm256_permutevar8x32_epi32(pixels, firstAt), t.wFirst, B, all);
            AddPixels<false>(s, _mm256_permutevar8x32_epi32(pixels, lastAt), t.wLast, B, t.hasLast);
        } else {
            const int* p = reinterpret_cast<const int*>(row);
            AddPixels<false>(s, _mm256_i32gather_epi32(p, t.first, 4), t.wFirst, B, all);
            AddPixels<false>(s, _mm256_i32gather_epi32(p, t.last, 4), t.wLast, B, t.hasLast);
        }
    }
    const __m256i valid = _mm256_cmpgt_epi32(s.v, zero);
    const __m256i v = _mm256_or_si256(s.v, _mm256_andnot_si256(valid, _mm256_set1_epi32(1)));  // no 0 divisors
    // The alpha: the footprint's one alpha, else v * 255 / weight (not needed when every
    // footprint has one alpha).
    const __m256i same = _mm256_cmpeq_epi32(s.lo, s.hi);
    __m256i alpha = s.lo;
    if (_mm256_movemask_epi8(same) != -1) {
        const __m256i n = _mm256_sub_epi32(_mm256_slli_epi32(s.v, 8), s.v);  // v * 255
        alpha = _mm256_blendv_epi8(Quotient8(n, s.weight, _mm256_rcp_ps(_mm256_cvtepi32_ps(s.weight))), s.lo, same);
    }
    const __m256i out = _mm256_or_si256(Colour(s, v), _mm256_slli_epi32(alpha, 24));
    Store8(job, x, _mm256_and_si256(out, valid));
}

}  // namespace

TARN_AVX2 void NarrowRowAvx2(const NarrowRowJob& job) {
    size_t x = 0;
    for (; x + 8 <= job.count; x += 8) EightPixels(job, x);
    if (x < job.count) {
        NarrowRowJob rest = job;
        rest.cols += x;
        rest.count -= x;
        rest.out += x;
        NarrowRowScalar(rest);
    }
}

}  // namespace tarn::resample

#endif
