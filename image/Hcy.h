// Hue / chroma / luma colour model of the non-separable blend modes (single precision).
#pragma once

#include <cstdint>

namespace tarn {

struct Hcy {
    float hue;     // degrees in [0, 360), or -1 for a grey colour (no hue)
    float chroma;  // max - min of the channels, 0..1
    float luma;    // 0.3 r + 0.59 g + 0.11 b, 0..1
};

struct Rgb8 {
    uint8_t r, g, b;
};

// Channels as fractions 0..1.
Hcy RgbToHcy(float r, float g, float b);
// Back to channels of 0..scale, each truncated and held to 0..255.
Rgb8 HcyToRgb(float hue, float chroma, float luma, float scale);

// Conversion of stored channel bytes, as the blend kernels use it.
inline Hcy RgbToHcy(uint32_t r, uint32_t g, uint32_t b) {
    return RgbToHcy(static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f, static_cast<float>(b) / 255.0f);
}

}  // namespace tarn
