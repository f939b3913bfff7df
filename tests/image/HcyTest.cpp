#include <gtest/gtest.h>

#include "image/Hcy.h"

namespace tarn {
namespace {

TEST(Hcy, RgbToHcyOfPrimariesAndGreys) {
    const struct {
        float r, g, b;
        float hue, chroma, luma;
    } cases[] = {
        {1, 0, 0, 0, 1, 0.3f},     {0, 1, 0, 120, 1, 0.59f},  {0, 0, 1, 240, 1, 0.11f},
        {1, 1, 0, 60, 1, 0.89f},   {0, 1, 1, 180, 1, 0.7f},   {1, 0, 1, 300, 1, 0.41f},
        {1, 0.5f, 0, 30, 1, 0.595f}, {0.5f, 0.5f, 0.5f, -1, 0, 0.5f}, {1, 1, 1, -1, 0, 1},
        {0, 0, 0, -1, 0, 0},
    };
    for (const auto& c : cases) {
        const Hcy h = RgbToHcy(c.r, c.g, c.b);
        EXPECT_NEAR(h.hue, c.hue, 1e-4) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(h.chroma, c.chroma, 1e-6);
        EXPECT_NEAR(h.luma, c.luma, 1e-6);
    }
}

TEST(Hcy, HcyToRgbCases) {
    const struct {
        const char* what;
        float hue, chroma, luma;
        Rgb8 expected;
    } cases[] = {
        {"red", 0, 1, 0.3f, {255, 0, 0}},
        {"no hue is grey", -1, 0.5f, 0.4f, {102, 102, 102}},
        {"no chroma is grey", 200, 0, 1.0f, {255, 255, 255}},
        {"too bright for full chroma", 0, 1, 0.9f, {255, 218, 218}},
        {"too dark for the luma", 120, 1, 0.3f, {0, 129, 0}},
        {"outside the six sectors", 360, 1, 0.5f, {0, 0, 0}},
        {"negative hue other than -1", -30, 1, 0.5f, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        const Rgb8 rgb = HcyToRgb(c.hue, c.chroma, c.luma, 255.0f);
        EXPECT_EQ(rgb.r, c.expected.r) << c.what;
        EXPECT_EQ(rgb.g, c.expected.g) << c.what;
        EXPECT_EQ(rgb.b, c.expected.b) << c.what;
    }
}

TEST(Hcy, RoundTripStaysWithinOneStep) {
    for (uint32_t r = 0; r < 256; r += 15)
        for (uint32_t g = 0; g < 256; g += 15)
            for (uint32_t b = 0; b < 256; b += 15) {
                const Hcy h = RgbToHcy(r, g, b);
                const Rgb8 back = HcyToRgb(h.hue, h.chroma, h.luma, 255.0f);
                ASSERT_NEAR(back.r, r, 1) << r << " " << g << " " << b;
                ASSERT_NEAR(back.g, g, 1) << r << " " << g << " " << b;
                ASSERT_NEAR(back.b, b, 1) << r << " " << g << " " << b;
            }
}

TEST(Hcy, OutOfRangeInputsGiveBytesNotWrappedValues) {
    // Luma above 1 or below 0 would wrap a stored byte; the channels are held to 0..255.
    const Rgb8 bright = HcyToRgb(-1, 0, 1.5f, 255.0f);
    EXPECT_EQ(bright.r, 255);
    const Rgb8 dark = HcyToRgb(-1, 0, -0.5f, 255.0f);
    EXPECT_EQ(dark.r, 0);
}

}  // namespace
}  // namespace tarn
