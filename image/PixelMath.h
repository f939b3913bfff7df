// The rounding helpers of all compositing arithmetic and the channel accessors of a pixel word
// 0xAARRGGBB. Tiny and inline so that the blend code reads like its formulas.
#pragma once

#include <cstdint>

namespace tarn {

// Rounded t / 255 for 0 <= t <= 65025 (and a close approximation beyond).
constexpr uint32_t div255(uint32_t t) { return (t + 1 + ((t + 1) >> 8)) >> 8; }
constexpr uint32_t mul255(uint32_t a, uint32_t b) { return div255(a * b); }
// The same rounding for signed t; the shifts floor.
constexpr int32_t sdiv255(int32_t t) { return (t + 1 + ((t + 1) >> 8)) >> 8; }

constexpr uint32_t Blue(uint32_t p) { return p & 0xFFu; }
constexpr uint32_t Green(uint32_t p) { return (p >> 8) & 0xFFu; }
constexpr uint32_t Red(uint32_t p) { return (p >> 16) & 0xFFu; }
constexpr uint32_t Alpha(uint32_t p) { return p >> 24; }
// Channel c of a pixel: 0 blue, 1 green, 2 red, 3 alpha.
constexpr uint32_t Channel(uint32_t p, int c) { return (p >> (8 * c)) & 0xFFu; }

// Only the low 8 bits of each argument are kept.
constexpr uint32_t PackPixel(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return ((a & 0xFFu) << 24) | ((r & 0xFFu) << 16) | ((g & 0xFFu) << 8) | (b & 0xFFu);
}
constexpr uint32_t WithAlpha(uint32_t p, uint32_t a) { return (p & 0x00FFFFFFu) | ((a & 0xFFu) << 24); }

constexpr uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }
constexpr uint32_t Max(uint32_t a, uint32_t b) { return a > b ? a : b; }

}  // namespace tarn
