// Random UTF-16 text and an independent UTF-8 encoder for the text tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

namespace textsamples {

// One code point per call, the way a reader of the rules would write it: decode the units
// into a code point first, then encode it.
inline std::string reference_utf8(const std::u16string& text, size_t* tail_units = nullptr) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        uint32_t c = text[i];
        size_t used = 1;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size())
                break;
            uint32_t v = text[i + 1];
            if (v >= 0xDC00 && v <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (v - 0xDC00);
                used = 2;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        i += used;
    }
    if (tail_units)
        *tail_units = text.size() - i;
    return out;
}

// Runs of one kind of character, so vector steps see both uniform and mixed stretches.
// With `valid` false, lone high and low surrogates are mixed in as well.
inline std::u16string random_text(std::mt19937& rng, size_t units, bool valid) {
    std::u16string t;
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    while (t.size() < units) {
        const uint32_t kind = pick(0, valid ? 4 : 6);
        const uint32_t run = pick(1, 24);
        for (uint32_t k = 0; k < run && t.size() < units; ++k) {
            switch (kind) {
            case 0: t += static_cast<char16_t>(pick(0x00, 0x7F)); break;
            case 1: t += static_cast<char16_t>(pick(0x80, 0x7FF)); break;
            case 2: {
                uint32_t c = pick(0x800, 0xFFFF - 0x800);
                t += static_cast<char16_t>(c >= 0xD800 ? c + 0x800 : c);  // skip the surrogates
                break;
            }
            case 3: {
                uint32_t c = pick(0x10000, 0x10FFFF) - 0x10000;
                t += static_cast<char16_t>(0xD800 + (c >> 10));
                t += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
                break;
            }
            case 4: t += static_cast<char16_t>(pick(0, 1) ? pick(0x00, 0x7F) : pick(0x4E00, 0x9FFF)); break;
            case 5: t += static_cast<char16_t>(pick(0xD800, 0xDBFF)); break;
            default: t += static_cast<char16_t>(pick(0xDC00, 0xDFFF)); break;
            }
        }
    }
    if (valid && t.size() > units && t[units - 1] >= 0xD800 && t[units - 1] <= 0xDBFF)
        t.resize(units - 1);  // do not cut the last pair in half
    else
        t.resize(std::min(t.size(), units));
    return t;
}

}  // namespace textsamples
