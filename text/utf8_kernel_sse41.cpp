// UTF-16 to UTF-8, eight units per step with SSE4.1: the AVX2 kernel's method on half the width
// (see utf8_kernel_avx2.cpp for how surrogate pairs are split between their two units).
#include "text/utf8_group_table.h"
#include "text/utf8_kernels.h"

#if BABEL_X86_KERNELS
#include <immintrin.h>

#define BABEL_TARGET_SSE41 __attribute__((target("sse4.1")))

namespace babel::detail {
namespace {

BABEL_TARGET_SSE41 inline __m128i splat(unsigned v) { return _mm_set1_epi16(static_cast<short>(v)); }

BABEL_TARGET_SSE41 inline __m128i group_shuffle(uint32_t index) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kGroupTable.shuffle[index]));
}

// Eight units at s (s[-1] and s[8] readable) to at most 24 bytes at out; returns the count.
BABEL_TARGET_SSE41 inline size_t encode8(const char16_t* s, char* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s - 1));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1));

    const __m128i one_byte = _mm_cmpeq_epi16(_mm_and_si128(u, splat(0xFF80)), zero);
    const __m128i two_bytes = _mm_cmpeq_epi16(_mm_and_si128(u, splat(0xF800)), zero);
    const __m128i kind = splat(0xFC00);
    const __m128i pair_high = _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(u, kind), splat(0xD800)),
                                            _mm_cmpeq_epi16(_mm_and_si128(next, kind), splat(0xDC00)));
    const __m128i pair_low = _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(u, kind), splat(0xDC00)),
                                           _mm_cmpeq_epi16(_mm_and_si128(prev, kind), splat(0xD800)));

    const __m128i low6_up = _mm_and_si128(_mm_slli_epi16(u, 8), splat(0x3F00));
    const __m128i form3 = _mm_or_si128(_mm_or_si128(splat(0x80E0), _mm_srli_epi16(u, 12)),
                                       _mm_and_si128(_mm_slli_epi16(u, 2), splat(0x3F00)));
    const __m128i form2 = _mm_or_si128(_mm_or_si128(splat(0x80C0), _mm_srli_epi16(u, 6)), low6_up);
    const __m128i form_low =
        _mm_or_si128(_mm_or_si128(splat(0x8080), _mm_and_si128(_mm_slli_epi16(prev, 4), splat(0x30))),
                     _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), splat(0x0F)), low6_up));
    const __m128i plane = _mm_add_epi16(u, splat(0x2840));
    const __m128i form_high = _mm_or_si128(_mm_or_si128(splat(0x80F0), _mm_srli_epi16(plane, 8)),
                                           _mm_and_si128(_mm_slli_epi16(plane, 6), splat(0x3F00)));
    __m128i first = _mm_blendv_epi8(form3, form2, two_bytes);
    first = _mm_blendv_epi8(first, form_low, pair_low);
    first = _mm_blendv_epi8(first, form_high, pair_high);
    first = _mm_blendv_epi8(first, u, one_byte);
    const __m128i third = _mm_or_si128(_mm_and_si128(u, splat(0x3F)), splat(0x80));

    const uint32_t more_than_one = ~static_cast<uint32_t>(_mm_movemask_epi8(one_byte)) & 0x5555u;
    const __m128i short_form = _mm_or_si128(two_bytes, _mm_or_si128(pair_high, pair_low));
    const uint32_t three = ~static_cast<uint32_t>(_mm_movemask_epi8(short_form)) & 0xAAAAu;
    const uint32_t index = more_than_one | three;

    const uint32_t g0 = index & 0xFF, g1 = index >> 8;
    const __m128i lo_bytes = _mm_shuffle_epi8(_mm_unpacklo_epi16(first, third), group_shuffle(g0));
    const __m128i hi_bytes = _mm_shuffle_epi8(_mm_unpackhi_epi16(first, third), group_shuffle(g1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo_bytes);
    const size_t w = kGroupTable.length[g0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), hi_bytes);
    return w + kGroupTable.length[g1];
}

}  // namespace

BABEL_TARGET_SSE41 size_t encode_sse41(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    size_t i = pos;
    size_t w = 0;
    if (i == 0)
        w = encode_scalar(s, n, i, out, 1);  // the first unit has no predecessor to load

    bool stepped = false;
    while (i + 9 <= n && w < limit) {
        stepped = true;
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_testz_si128(u, splat(0xFF80))) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + w), _mm_packus_epi16(u, u));
            w += 8;
        } else {
            w += encode8(s + i, out + w);
        }
        i += 8;
    }
    // A pair cut by the last step: take back its first half and let the scalar code write it whole.
    if (stepped && i < n && is_high_surrogate(s[i - 1]) && is_low_surrogate(s[i])) {
        w -= 2;
        --i;
    }
    if (w < limit)
        w += encode_scalar(s, n, i, out + w, limit - w);
    pos = i;
    return w;
}

}  // namespace babel::detail

#else

namespace babel::detail {
size_t encode_sse41(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    return encode_scalar(s, n, pos, out, limit);
}
}  // namespace babel::detail

#endif
