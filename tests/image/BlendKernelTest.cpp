// The kernel mode families (5-27 keep the destination alpha, 29-51 composite fully) on
// hand-computed pixels, and properties every kernel must have.
#include <gtest/gtest.h>

#include "BlendTestUtil.h"
#include "image/BlendKernels.h"
#include "image/BlendTables.h"

namespace tarn {
namespace {

using test::BlendOne;
using test::Params;

// Destination channels R 200, G 64, B 128 against source R 100, G 200, B 128 exercise both
// branches of the two-sided kernels; the second pair covers clamping near 0 and 255.
constexpr uint32_t kDst1 = 0x80C84080, kSrc1 = 0xFF64C880;
constexpr uint32_t kDst2 = 0x800A64FA, kSrc2 = 0xFF141E03;

struct KernelCase {
    int index;
    uint32_t expected1, expected2;  // at full coverage; destination alpha 0x80 is kept
};

TEST(BlendKernels, FullCoverageKeepsDestinationAlpha) {
    const KernelCase cases[] = {
        {kAdd, 0x80FFFFFF, 0x801E82FD},         {kAddScaled, 0x80FFFFFF, 0x801E82FD},
        {kSubtract, 0x80640000, 0x800046F7},    {kMultiply, 0x804E3240, 0x80000B02},
        {kDivide, 0x80FF51FE, 0x8079FFFF},      {kOverlay, 0x80BC6480, 0x800117F5},
        {kScreen, 0x80DED6C0, 0x801E77FB},      {kLighten, 0x80C8C880, 0x801464FA},
        {kDarken, 0x80644080, 0x800A1E03},      {kDifference, 0x80648800, 0x800A46F7},
        {kExclusion, 0x8090A480, 0x801D6BF8},   {kColorDodge, 0x80FFFFFF, 0x800A71FC},
        {kColorBurn, 0x80740C03, 0x80000000},   {kLinearDodge, 0x80FFFFFF, 0x801E82FD},
        {kLinearBurn, 0x802D0901, 0x80000000},  {kSoftLight, 0x80BD637F, 0x800134F4},
        {kHardLight, 0x809CAD81, 0x80011705},   {kHardMix, 0x80FFFFFF, 0x80000000},
        {kHue, 0x801BA341, 0},                  {kSaturation, 0x80B04C7B, 0},
        {kColor, 0x8031954D, 0},                {kLuminosity, 0x80FA72B2, 0},
        {kInvertedExclusion, 0x806F5B7F, 0},
    };
    for (const KernelCase& c : cases) {
        EXPECT_EQ(BlendOne(Params(5 + c.index), kDst1, kSrc1), c.expected1) << "kernel " << c.index;
        if (c.expected2) {
            EXPECT_EQ(BlendOne(Params(5 + c.index), kDst2, kSrc2), c.expected2) << "kernel " << c.index;
        }
    }
}

TEST(BlendKernels, HalfCoverageMixesWithTheDestination) {
    // Source alpha 128 gives k = 128.
    const struct {
        int index;
        uint32_t expected;
    } cases[] = {{kMultiply, 0x808A385F}, {kScreen, 0x80D38BA0}, {kOverlay, 0x80C15280},
                 {kAddScaled, 0x80FAA4C0}, {kInvertedExclusion, 0x809C4D7F}};
    for (const auto& c : cases)
        EXPECT_EQ(BlendOne(Params(5 + c.index), kDst1, (kSrc1 & 0x00FFFFFF) | 0x80000000), c.expected) << c.index;
}

TEST(BlendKernels, ZeroCoverageLeavesTheDestination) {
    // Source alpha x opacity rounds to k = 0: 1 x 1, 127 x 1 and 255 x 0.
    const struct {
        uint32_t srcAlpha;
        uint8_t opacity;
    } zeros[] = {{1, 1}, {127, 1}, {255, 0}};
    for (int i = 0; i < kBlendKernelCount; ++i)
        for (const auto& z : zeros) {
            const uint32_t src = (z.srcAlpha << 24) | 0x64C880;
            EXPECT_EQ(BlendOne(Params(5 + i, z.opacity), kDst1, src), kDst1) << "kernel " << i;
            EXPECT_EQ(BlendOne(Params(29 + i, z.opacity), 0xFFC84080, src), 0xFFC84080) << "kernel " << i;
        }
}

TEST(BlendKernels, TransparentSourceIsSkippedEvenInLinearLight) {
    for (int i = 0; i < kBlendKernelCount; ++i)
        for (int32_t mode : {5 + i, 29 + i}) EXPECT_EQ(BlendOne(Params(mode, 255, true), 0x80010203, 0x00FFFFFF), 0x80010203u);
}

TEST(BlendKernels, LinearLightRoundTripsTheDestination) {
    // k = 0, so only toLinear then fromLinear touches the channels: 1 -> 0 -> 0, 255 -> 255.
    const uint32_t src = 0x01FFFFFF;
    const uint32_t v = fromLinear[toLinear[0x80]];
    EXPECT_EQ(BlendOne(Params(5, 1, true), 0x80FF0180, src), 0x80FF0000u | v);
    EXPECT_EQ(BlendOne(Params(29 + kMultiply, 1, true), 0xFFFF0180, src), 0xFFFF0000u | v);
}

TEST(BlendKernels, Specials) {
    // Multiply by white changes nothing; by opaque black gives black, alpha kept.
    EXPECT_EQ(BlendOne(Params(8), 0x80123456, 0xFFFFFFFF), 0x80123456u);
    EXPECT_EQ(BlendOne(Params(8), 0x80123456, 0xFF000000), 0x80000000u);
    // Screen of black keeps the colour.
    EXPECT_EQ(BlendOne(Params(11), 0x80123456, 0xFF000000), 0x80123456u);
    // Divide by black: non-zero channels saturate, zero stays zero.
    EXPECT_EQ(BlendOne(Params(9), 0x80120056, 0xFF000000), 0x80FF00FFu);
    // Hue onto grey changes nothing, black and white included.
    for (uint32_t grey : {0xFF808080u, 0xFF000000u, 0xFFFFFFFFu, 0x40101010u})
        EXPECT_EQ(BlendOne(Params(22), grey, 0xFFFF0000), grey);
    // Hue of green onto red: hue 120 with red's chroma and luma.
    EXPECT_EQ(BlendOne(Params(22), 0xFFFF0000, 0xFF00FF00), 0xFF008100u);
}

TEST(BlendKernels, EveryBlendValueIsAByteAndHardMixIsBinary) {
    auto check = [](auto f, const char* name) {
        for (uint32_t d = 0; d < 256; ++d)
            for (uint32_t s = 0; s < 256; ++s) ASSERT_LE(f(d, s), 255u) << name << " d " << d << " s " << s;
    };
    check(BlendValue<kAdd>, "Add");
    check(BlendValue<kSubtract>, "Subtract");
    check(BlendValue<kMultiply>, "Multiply");
    check(BlendValue<kDivide>, "Divide");
    check(BlendValue<kOverlay>, "Overlay");
    check(BlendValue<kScreen>, "Screen");
    check(BlendValue<kExclusion>, "Exclusion");
    check(BlendValue<kColorDodge>, "ColorDodge");
    check(BlendValue<kColorBurn>, "ColorBurn");
    check(BlendValue<kLinearBurn>, "LinearBurn");
    check(BlendValue<kSoftLight>, "SoftLight");
    check(BlendValue<kHardLight>, "HardLight");
    check([](uint32_t d, uint32_t s) { return InvertedExclusionValue(d, s); }, "InvertedExclusion");
    for (uint32_t d = 0; d < 256; ++d)
        for (uint32_t s = 0; s < 256; ++s) {
            const uint32_t v = BlendValue<kHardMix>(d, s);
            ASSERT_TRUE(v == 0 || v == 255);
        }
}

TEST(BlendKernels, TranslucentDestinationComposites) {
    const struct {
        const char* what;
        int32_t mode;
        uint32_t dst, src, expected;
    } cases[] = {
        {"multiply black over white", 29 + kMultiply, 0x80FFFFFF, 0x80000000, 0xBF646464},
        {"screen white over black", 29 + kScreen, 0x80000000, 0x80FFFFFF, 0xBF9A9A9A},
        {"screen", 29 + kScreen, 0x40C84080, 0xC864C880, 0xD581BC8A},
        {"inverted exclusion", 29 + kInvertedExclusion, 0x40C84080, 0xC864C880, 0xD56FA87F},
        {"inverted exclusion black", 29 + kInvertedExclusion, 0x80000000, 0x80000000, 0xBF2F2F2F},
        {"opaque destination keeps alpha", 29 + kMultiply, 0xFFC84080, 0xFF64C880, 0xFF4E3240},
    };
    for (const auto& c : cases) EXPECT_EQ(BlendOne(Params(c.mode), c.dst, c.src), c.expected) << c.what;
}

TEST(BlendKernels, CompositeOntoTransparentCopiesWithScaledAlpha) {
    for (int i = 0; i < kBlendKernelCount; ++i) {
        EXPECT_EQ(BlendOne(Params(29 + i, 128), 0x00FFFFFF, 0x80123456), 0x40123456u) << i;
        EXPECT_EQ(BlendOne(Params(29 + i, 255), 0x00FFFFFF, 0x80123456), 0x80123456u) << i;
    }
}

TEST(BlendTables, KnownEntries) {
    const struct {
        const uint8_t (&table)[256];
        int index;
        uint8_t expected;
    } entries[] = {{sqrtTable, 0, 0},   {sqrtTable, 64, 127}, {sqrtTable, 255, 255}, {toLinear, 0, 0},
                   {toLinear, 1, 0},    {toLinear, 128, 73},  {toLinear, 255, 255},  {fromLinear, 0, 0},
                   {fromLinear, 73, 127}, {fromLinear, 255, 255}};
    for (const auto& e : entries) EXPECT_EQ(e.table[e.index], e.expected) << e.index;
    for (int i = 1; i < 256; ++i) {
        EXPECT_GE(toLinear[i], toLinear[i - 1]);
        EXPECT_GE(fromLinear[i], fromLinear[i - 1]);
        EXPECT_NEAR(fromLinear[toLinear[i]], i, i < 32 ? 32 : 4) << i;
    }
}

}  // namespace
}  // namespace tarn
