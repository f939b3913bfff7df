// Start-up lookup tables of the blend kernels: built once by static initialisation and read-only
// for the life of the process.
#pragma once

#include <cstdint>

namespace tarn {

// sqrtTable[i] = trunc(sqrt(i / 255) * 255), used by soft light.
extern const uint8_t (&sqrtTable)[256];
// Gamma-1.8 linear light and back: toLinear[i] = trunc((i / 255)^1.8 * 255),
// fromLinear[i] = trunc((i / 255)^(1 / 1.8) * 255).
extern const uint8_t (&toLinear)[256];
extern const uint8_t (&fromLinear)[256];

// A pixel's three colour channels through a table; alpha is kept.
inline uint32_t MapColour(uint32_t p, const uint8_t (&table)[256]) {
    return (p & 0xFF000000u) | (uint32_t(table[(p >> 16) & 0xFF]) << 16) |
           (uint32_t(table[(p >> 8) & 0xFF]) << 8) | table[p & 0xFF];
}

}  // namespace tarn
