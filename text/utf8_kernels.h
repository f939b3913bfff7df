// Internal: the UTF-16 to UTF-8 encoding kernels behind unicode_to_utf8_engine.
//
// A kernel converts whole code points from s[pos] on into out while fewer than `limit` bytes
// have been written, advances pos past what it converted and returns the byte count. It stops
// early at the end of the text or before a high surrogate that is the last unit (the tail).
// It may write up to kEncodeSlack bytes beyond `limit`, so `out` must hold limit + kEncodeSlack.
// Every kernel produces exactly the bytes of encode_scalar; the vector ones only go faster.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace babel::detail {

inline constexpr size_t kEncodeSlack = 64;

using encode_fn = size_t (*)(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit);

struct encode_kernel {
    const char* name;
    encode_fn fn;
};

inline constexpr bool is_high_surrogate(uint32_t u) { return (u & 0xFC00) == 0xD800; }
inline constexpr bool is_low_surrogate(uint32_t u) { return (u & 0xFC00) == 0xDC00; }

// The reference: one code point at a time.
inline size_t encode_scalar(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    size_t i = pos;
    size_t w = 0;
    while (i < n && w < limit) {
        uint32_t c = s[i];
        if (c < 0x80) {
            out[w++] = static_cast<char>(c);
            ++i;
            continue;
        }
        if (c < 0x800) {
            out[w] = static_cast<char>(0xC0 | (c >> 6));
            out[w + 1] = static_cast<char>(0x80 | (c & 0x3F));
            w += 2;
            ++i;
            continue;
        }
        size_t units = 1;
        if (is_high_surrogate(c)) {
            if (i + 1 == n)
                break;  // the tail: its partner may arrive with more text
            uint32_t v = s[i + 1];
            if (is_low_surrogate(v)) {
                c = (c << 10) + v - 0x35FDC00;  // 0x10000 + (hi - 0xD800) * 0x400 + (lo - 0xDC00)
                units = 2;
            }
        }
        if (c < 0x10000) {
            out[w] = static_cast<char>(0xE0 | (c >> 12));
            out[w + 1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[w + 2] = static_cast<char>(0x80 | (c & 0x3F));
            w += 3;
        } else {
            out[w] = static_cast<char>(0xF0 | (c >> 18));
            out[w + 1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out[w + 2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[w + 3] = static_cast<char>(0x80 | (c & 0x3F));
            w += 4;
        }
        i += units;
    }
    pos = i;
    return w;
}

size_t encode_sse41(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit);
size_t encode_avx2(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit);

// The kernels this processor can run, slowest first; the last is the one in use.
std::span<const encode_kernel> available_kernels();
encode_fn best_kernel();

}  // namespace babel::detail
