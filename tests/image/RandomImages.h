// Random test images whose alpha follows one of a few regimes, so that uniform, transparent
// and mixed footprints all occur.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "image/CImage32.h"

namespace tarn {

enum AlphaRegime : int {
    kOpaque = 0,
    kZeroOr255 = 1,
    kAnyAlpha = 2,
    kMostlyZeroOrOne = 3,
    kRareOddPixels = 4,  // opaque but for one pixel in 97 at alpha 0x40
};

inline void FillRandom(CImage32& img, std::mt19937& rng, int regime) {
    std::uniform_int_distribution<uint32_t> any(0, 0xFFFFFFFFu);
    const size_t n = static_cast<size_t>(img.Width()) * static_cast<size_t>(img.Height());
    for (size_t k = 0; k < n; ++k) {
        uint32_t p = any(rng);
        switch (regime) {
            case kOpaque: p |= 0xFF000000u; break;
            case kZeroOr255: p = (p & 0x00FFFFFFu) | ((p >> 31) ? 0xFF000000u : 0u); break;
            case kAnyAlpha: break;
            case kRareOddPixels: p = (p & 0x00FFFFFFu) | (k % 97 == 0 ? 0x40000000u : 0xFF000000u); break;
            default: p = (p & 0x01FFFFFFu) | (any(rng) % 8 == 0 ? 0x80000000u : 0u); break;
        }
        img.Pixels()[k] = p;
    }
}

}  // namespace tarn
