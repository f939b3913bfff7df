// UTF-16 to UTF-8, sixteen units per step with AVX2.
//
// Every unit is encoded independently once it knows its neighbours: a high surrogate followed
// by a low one writes the first two bytes of the four-byte form, and the low one, looking back
// at its partner for two bits, writes the last two. So a step needs only the units one before
// and one after its own sixteen, and the output bytes are those of encode_scalar.
#include "text/utf8_group_table.h"
#include "text/utf8_kernels.h"

#if BABEL_X86_KERNELS
#include <immintrin.h>

#define BABEL_TARGET_AVX2 __attribute__((target("avx2")))

namespace babel::detail {
namespace {

BABEL_TARGET_AVX2 inline __m256i splat(unsigned v) { return _mm256_set1_epi16(static_cast<short>(v)); }

BABEL_TARGET_AVX2 inline __m128i group_shuffle(uint32_t index) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kGroupTable.shuffle[index]));
}

// Sixteen units at s (s[-1] and s[16] readable) to at most 48 bytes at out; returns the count.
BABEL_TARGET_AVX2 inline size_t encode16(const char16_t* s, char* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 1));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 1));

    const __m256i one_byte = _mm256_cmpeq_epi16(_mm256_and_si256(u, splat(0xFF80)), zero);
    const __m256i two_bytes = _mm256_cmpeq_epi16(_mm256_and_si256(u, splat(0xF800)), zero);
    const __m256i kind = splat(0xFC00);
    const __m256i pair_high = _mm256_and_si256(
        _mm256_cmpeq_epi16(_mm256_and_si256(u, kind), splat(0xD800)),
        _mm256_cmpeq_epi16(_mm256_and_si256(next, kind), splat(0xDC00)));
    const __m256i pair_low = _mm256_and_si256(
        _mm256_cmpeq_epi16(_mm256_and_si256(u, kind), splat(0xDC00)),
        _mm256_cmpeq_epi16(_mm256_and_si256(prev, kind), splat(0xD800)));

    // First two bytes of each unit (low byte first), per form.
    const __m256i low6_up = _mm256_and_si256(_mm256_slli_epi16(u, 8), splat(0x3F00));
    const __m256i form3 = _mm256_or_si256(
        _mm256_or_si256(splat(0x80E0), _mm256_srli_epi16(u, 12)),
        _mm256_and_si256(_mm256_slli_epi16(u, 2), splat(0x3F00)));
    const __m256i form2 = _mm256_or_si256(_mm256_or_si256(splat(0x80C0), _mm256_srli_epi16(u, 6)), low6_up);
    const __m256i form_low = _mm256_or_si256(
        _mm256_or_si256(splat(0x8080), _mm256_and_si256(_mm256_slli_epi16(prev, 4), splat(0x30))),
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(u, 6), splat(0x0F)), low6_up));
    const __m256i plane = _mm256_add_epi16(u, splat(0x2840));  // u - 0xD7C0: the plane-shifted top bits
    const __m256i form_high = _mm256_or_si256(
        _mm256_or_si256(splat(0x80F0), _mm256_srli_epi16(plane, 8)),
        _mm256_and_si256(_mm256_slli_epi16(plane, 6), splat(0x3F00)));
    __m256i first = _mm256_blendv_epi8(form3, form2, two_bytes);
    first = _mm256_blendv_epi8(first, form_low, pair_low);
    first = _mm256_blendv_epi8(first, form_high, pair_high);
    first = _mm256_blendv_epi8(first, u, one_byte);
    const __m256i third = _mm256_or_si256(_mm256_and_si256(u, splat(0x3F)), splat(0x80));

    const uint32_t more_than_one = ~static_cast<uint32_t>(_mm256_movemask_epi8(one_byte)) & 0x55555555u;
    const __m256i short_form = _mm256_or_si256(two_bytes, _mm256_or_si256(pair_high, pair_low));
    const uint32_t three = ~static_cast<uint32_t>(_mm256_movemask_epi8(short_form)) & 0xAAAAAAAAu;
    const uint32_t index = more_than_one | three;

    // Slots: lo holds units 0-3 and 8-11, hi holds 4-7 and 12-15.
    const __m256i lo = _mm256_unpacklo_epi16(first, third);
    const __m256i hi = _mm256_unpackhi_epi16(first, third);
    const uint32_t g0 = index & 0xFF, g1 = (index >> 8) & 0xFF, g2 = (index >> 16) & 0xFF, g3 = index >> 24;
    const __m256i lo_bytes = _mm256_shuffle_epi8(
        lo, _mm256_inserti128_si256(_mm256_castsi128_si256(group_shuffle(g0)), group_shuffle(g2), 1));
    const __m256i hi_bytes = _mm256_shuffle_epi8(
        hi, _mm256_inserti128_si256(_mm256_castsi128_si256(group_shuffle(g1)), group_shuffle(g3), 1));

    size_t w = 0;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(lo_bytes));
    w += kGroupTable.length[g0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_castsi256_si128(hi_bytes));
    w += kGroupTable.length[g1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_extracti128_si256(lo_bytes, 1));
    w += kGroupTable.length[g2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_extracti128_si256(hi_bytes, 1));
    return w + kGroupTable.length[g3];
}

}  // namespace

BABEL_TARGET_AVX2 size_t encode_avx2(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    size_t i = pos;
    size_t w = 0;
    if (i == 0)
        w = encode_scalar(s, n, i, out, 1);  // the first unit has no predecessor to load

    bool stepped = false;
    while (i + 17 <= n && w < limit) {
        stepped = true;
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        if (_mm256_testz_si256(u, splat(0xFF80))) {
            const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(u, u), 0x08);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_castsi256_si128(bytes));
            w += 16;
        } else {
            w += encode16(s + i, out + w);
        }
        i += 16;
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
size_t encode_avx2(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    return encode_scalar(s, n, pos, out, limit);
}
}  // namespace babel::detail

#endif
