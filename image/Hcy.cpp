#include "image/Hcy.h"

#include <cmath>

namespace tarn {
namespace {

constexpr float kWeightRed = 0.3f;
constexpr float kWeightGreen = 0.59f;
constexpr float kWeightBlue = 0.11f;

// Truncates scale * value; values a rounding step outside 0..1 must not wrap the byte.
uint8_t ToByte(float scale, float value) {
    const float v = scale * value;
    if (!(v > 0.0f)) return 0;  // negatives and NaN
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(static_cast<int32_t>(v));
}

}  // namespace

Hcy RgbToHcy(float r, float g, float b) {
    if (r == 1.0f && g == 1.0f && b == 1.0f) return {-1.0f, 0.0f, 1.0f};
    if (r == 0.0f && g == 0.0f && b == 0.0f) return {-1.0f, 0.0f, 0.0f};

    const float luma = kWeightRed * r + kWeightGreen * g + kWeightBlue * b;
    float max = r, min = r;
    if (g > max) max = g;
    if (b > max) max = b;
    if (g < min) min = g;
    if (b < min) min = b;
    if (max == min) return {-1.0f, 0.0f, luma};

    const float chroma = max - min;
    float hue;
    if (r == max)
        hue = (g - b) * 60.0f / chroma;
    else if (g == max)
        hue = (b - r) * 60.0f / chroma + 120.0f;
    else
        hue = (r - g) * 60.0f / chroma + 240.0f;
    if (hue < 0.0f) hue += 360.0f;
    return {hue, chroma, luma};
}

Rgb8 HcyToRgb(float hue, float chroma, float luma, float scale) {
    if (chroma == 0.0f || hue == -1.0f) {
        const uint8_t v = ToByte(scale, luma);
        return {v, v, v};
    }
    // Sectors 0..5 cover hues 0..360; anything else (not produced by RgbToHcy) is black.
    const float h = hue / 60.0f;
    if (!(h >= 0.0f && h < 6.0f)) return {0, 0, 0};
    const int32_t n = static_cast<int32_t>(h);
    const float x = 1.0f - std::fabs(h - static_cast<float>(2 * (n / 2)) - 1.0f);
    const float m = chroma * x;

    // Largest, middle and smallest channel of each sector, and their luma weights.
    struct Sector {
        int largest, middle, smallest;  // 0 red, 1 green, 2 blue
    };
    static constexpr Sector kSectors[6] = {{0, 1, 2}, {1, 0, 2}, {1, 2, 0}, {2, 1, 0}, {2, 0, 1}, {0, 2, 1}};
    static constexpr float kWeights[3] = {kWeightRed, kWeightGreen, kWeightBlue};
    const Sector s = kSectors[n];
    const float wMax = kWeights[s.largest];
    const float wMid = kWeights[s.middle];

    float smallest = luma - (wMax * chroma + wMid * m);
    float largest = smallest + chroma;
    float middle = smallest + m;
    if (smallest < 0.0f) {
        largest = smallest / (wMax + wMid * x) + chroma;
        middle = largest * x;
        smallest = 0.0f;
    } else if (largest > 1.0f) {
        const float c = (1.0f - luma) / (1.0f - wMax - wMid * x);
        smallest = luma - (wMax * c + wMid * c * x);
        middle = smallest + c * x;
        largest = smallest + c;
    }

    uint8_t out[3];
    out[s.largest] = ToByte(scale, largest);
    out[s.middle] = ToByte(scale, middle);
    out[s.smallest] = ToByte(scale, smallest);
    return {out[0], out[1], out[2]};
}

}  // namespace tarn
