#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/CImage32.h"
#include "image/Resample.h"
#include "image/ResampleKernels.h"
#include "image/ResampleStrips.h"
#include "tests/image/RandomImages.h"

namespace tarn {
namespace {

// The area average as a plain transcription of its definition: every footprint pixel
// visited, every weight formed as written. 64-bit coordinates, and the documented weight
// 255 - fx0 (255 - fy0) where a clamped single column (row) would weigh fx1 - fx0 < 0.
uint32_t ReferenceAreaSample(const CImage32& src, int64_t xStep, int64_t yStep, int64_t x, int64_t y) {
    const int64_t W = src.Width(), H = src.Height();
    const int64_t X0 = xStep * x, X1 = X0 + xStep, Y0 = yStep * y, Y1 = Y0 + yStep;
    const int64_t j0 = X0 >> 16, i0 = Y0 >> 16;
    const int64_t jEnd = (X1 >> 16) >= W ? W - 1 : X1 >> 16;
    const int64_t iEnd = (Y1 >> 16) >= H ? H - 1 : Y1 >> 16;
    const int64_t fx0 = (X0 >> 8) & 255, fx1 = (X1 >> 8) & 255, fy0 = (Y0 >> 8) & 255, fy1 = (Y1 >> 8) & 255;
    if (i0 > iEnd) return 0;
    uint64_t sumC = 0, sumV = 0, sumR = 0, sumG = 0, sumB = 0;
    bool sameAlpha = true;
    uint64_t firstAlpha = 0;
    for (int64_t i = i0; i <= iEnd; ++i) {
        for (int64_t j = j0; j <= jEnd; ++j) {
            const bool inside = j >= 0 && j < W && i >= 0 && i < H;
            const uint32_t p = inside ? src.GetPixel(static_cast<int32_t>(j), static_cast<int32_t>(i)) : 0u;
            const uint64_t a = p >> 24;
            if (i == i0 && j == j0)
                firstAlpha = a;
            else if (a != firstAlpha)
                sameAlpha = false;
            int64_t A = 255;
            if (j == j0) A = 255 - fx0;
            if (j == jEnd) A = A + fx1 - 255;
            if (A < 0) A = 255 - fx0;
            int64_t B = 255;
            if (i == i0) B = 255 - fy0;
            if (i == iEnd) B = B + fy1 - 255;
            if (B < 0) B = 255 - fy0;
            uint64_t C, v;
            if (j == j0 || j == jEnd || i == i0 || i == iEnd) {
                C = static_cast<uint64_t>(A * B);
                if (C < 255) C = 255;
                const uint64_t t = a * C + 1;
                v = (t + (t >> 8)) >> 8;
            } else {
                C = 65025;
                v = a * 255;
            }
            sumC += C;
            sumV += v;
            sumR += ((p >> 16) & 255) * v;
            sumG += ((p >> 8) & 255) * v;
            sumB += (p & 255) * v;
        }
    }
    if (sumV == 0) return 0;
    const uint64_t alpha = sameAlpha ? firstAlpha : sumV * 255 / sumC;
    return static_cast<uint32_t>(((alpha & 255) << 24) | ((sumR / sumV & 255) << 16) | ((sumG / sumV & 255) << 8) |
                                 (sumB / sumV & 255));
}

void ReferenceResample(CImage32& dst, const CImage32& src, int32_t width, int32_t height) {
    const int32_t w = std::min(width, dst.Width()), h = std::min(height, dst.Height());
    const auto step = [](int32_t s, int32_t d) { return static_cast<int64_t>(static_cast<double>(s) / d * 65536.0); };
    const int64_t xStep = step(src.Width(), dst.Width()), yStep = step(src.Height(), dst.Height());
    if (dst.Width() % src.Width() == 0 && dst.Height() % src.Height() == 0) {
        int64_t fy = yStep / 2;
        for (int32_t y = 0; y < h; ++y, fy += yStep) {
            int64_t fx = xStep / 2;
            for (int32_t x = 0; x < w; ++x, fx += xStep) {
                const int64_t sx = fx >> 16, sy = fy >> 16;
                const bool inside = sx < src.Width() && sy < src.Height();
                dst.SetPixel(x, y, inside ? src.GetPixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy)) : 0u);
            }
        }
        return;
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) dst.SetPixel(x, y, ReferenceAreaSample(src, xStep, yStep, x, y));
}

// Resample with every kernel set the processor runs, compared with the reference.
::testing::AssertionResult SameAsReference(const CImage32& src, int32_t dW, int32_t dH) {
    CImage32 want;
    want.Resize(dW, dH);
    want.Fill(0x12345678u);
    ReferenceResample(want, src, dW, dH);
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    for (size_t k = 0; k < count; ++k) {
        CImage32 got;
        got.Resize(dW, dH);
        got.Fill(0x12345678u);
        resample::ResampleWith(*sets[k], got, src, dW, dH);
        for (int32_t y = 0; y < dH; ++y)
            for (int32_t x = 0; x < dW; ++x)
                if (got.GetPixel(x, y) != want.GetPixel(x, y))
                    return ::testing::AssertionFailure()
                           << names[k] << ": " << src.Width() << "x" << src.Height() << " -> " << dW << "x" << dH
                           << " at (" << x << ", " << y << "): got " << std::hex << got.GetPixel(x, y) << " want "
                           << want.GetPixel(x, y);
    }
    return ::testing::AssertionSuccess();
}

TEST(Footprint, WeightsAndClamping) {
    struct Case {
        int64_t step, index, size, first, last, wFirst, wLast;
    } cases[] = {
        {131072, 0, 256, 0, 2, 255, 0},        // halving: 2x (255), 2x + 1, 2x + 2 (0)
        {131072, 127, 256, 254, 255, 255, 0},  // end column 256 clamped to 255
        {65536, 3, 10, 3, 4, 255, 0},          // equal sizes, next column with weight 0
        {25600, 1, 100, 0, 0, 100, 0},         // 100 -> 256: inside one column, fx1 - fx0
        {25600, 2, 100, 0, 1, 55, 44},         // straddles two columns
        {38400, 255, 150, 149, 149, 149, 0},   // 150 -> 256: clamped, fx1 - fx0 = 0 - 106 < 0 -> 255 - fx0
        {38400, 254, 150, 148, 149, 43, 106},  // 150 -> 256, not clamped
        {65536 * 40000LL, 0, 40000, 0, 39999, 255, 0},  // one destination pixel over a huge source
    };
    for (const Case& c : cases) {
        const resample::Footprint f = resample::MakeFootprint(c.step, c.index, c.size);
        EXPECT_EQ(f.first, c.first) << c.step << " " << c.index;
        EXPECT_EQ(f.last, c.last) << c.step << " " << c.index;
        EXPECT_EQ(f.wFirst, c.wFirst) << c.step << " " << c.index;
        if (f.first != f.last) {
            EXPECT_EQ(f.wLast, c.wLast) << c.step << " " << c.index;
        }
    }
}

TEST(Resample, PointSamplingCopiesOrRepeatsPixels) {
    struct Case {
        int32_t sw, sh, dw, dh;
    } cases[] = {{37, 23, 37, 23}, {100, 50, 200, 100}, {1, 1, 5, 7}, {3, 2, 9, 6}, {7, 5, 7, 15}};
    std::mt19937 rng(1);
    for (const Case& c : cases) {
        CImage32 src, dst;
        src.Resize(c.sw, c.sh);
        dst.Resize(c.dw, c.dh);
        FillRandom(src, rng, 2);
        Resample(dst, src, c.dw, c.dh);
        const int32_t kx = c.dw / c.sw, ky = c.dh / c.sh;
        for (int32_t y = 0; y < c.dh; ++y)
            for (int32_t x = 0; x < c.dw; ++x)
                ASSERT_EQ(dst.GetPixel(x, y), src.GetPixel(x / kx, y / ky)) << c.dw << "x" << c.dh << " " << x << "," << y;
    }
    CImage32 self;  // into itself: equal sizes, nothing changes
    self.Resize(9, 4);
    FillRandom(self, rng, 2);
    const std::vector<uint32_t> before(self.Pixels(), self.Pixels() + 36);
    EXPECT_TRUE(Resample(self, self, 9, 4));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), self.Pixels()));
}

TEST(Resample, HalvingUsesEdgeWeights) {
    // Opaque; red on even columns, green on odd columns, blue on even rows. The third column
    // (row) of each footprint weighs 1/255 of a pixel, so averages land just below the middle,
    // and the last destination column (row) sees only two source columns (rows).
    CImage32 src, dst;
    src.Resize(256, 256);
    dst.Resize(128, 128);
    for (int32_t i = 0; i < 256; ++i)
        for (int32_t j = 0; j < 256; ++j)
            src.SetPixel(j, i, 0xFF000000u | (j % 2 ? 0x00FF00u : 0xFF0000u) | (i % 2 ? 0u : 0xFFu));
    Resample(dst, src, 128, 128);
    struct Case {
        int32_t x, y;
        uint32_t want;
    } cases[] = {{0, 0, 0xFF7F7F7Fu},   {5, 9, 0xFF7F7F7Fu},   {127, 0, 0xFFFD017Fu},
                 {0, 127, 0xFF7F7FFDu}, {64, 127, 0xFF7F7FFDu}, {127, 127, 0xFFFD01FDu}};
    for (const Case& c : cases) EXPECT_EQ(dst.GetPixel(c.x, c.y), c.want) << c.x << "," << c.y;
    EXPECT_TRUE(SameAsReference(src, 128, 128));
}

TEST(Resample, EnlargingByNonMultipleAverages) {
    // 100 x 50 -> 256 x 128 is an enlargement but not a whole multiple: neighbouring source
    // pixels blend, which point sampling would never produce.
    CImage32 src, dst;
    src.Resize(100, 50);
    dst.Resize(256, 128);
    for (int32_t i = 0; i < 50; ++i)
        for (int32_t j = 0; j < 100; ++j) src.SetPixel(j, i, j < 50 ? 0xFF000000u : 0xFFFFFFFFu);
    Resample(dst, src, 256, 128);
    bool blended = false;
    for (int32_t x = 0; x < 256; ++x) {
        const uint32_t p = dst.GetPixel(x, 10);
        blended |= p != 0xFF000000u && p != 0xFFFFFFFFu;
    }
    EXPECT_TRUE(blended);
    EXPECT_TRUE(SameAsReference(src, 256, 128));
}

TEST(Resample, UniformOpaqueSourceKeepsItsColour) {
    struct Case {
        int32_t sw, sh, dw, dh;
    } cases[] = {{256, 256, 128, 128}, {100, 50, 256, 128}, {150, 1, 256, 1}, {1000, 999, 256, 255},
                 {7, 3, 2, 1},         {1, 9, 4, 4},        {300, 200, 1, 1}, {33, 65, 17, 100}};
    for (const Case& c : cases) {
        CImage32 src, dst;
        src.Resize(c.sw, c.sh);
        dst.Resize(c.dw, c.dh);
        src.Fill(0xFF3366CCu);
        Resample(dst, src, c.dw, c.dh);
        for (int32_t y = 0; y < c.dh; ++y)
            for (int32_t x = 0; x < c.dw; ++x)
                ASSERT_EQ(dst.GetPixel(x, y), 0xFF3366CCu) << c.sw << "x" << c.sh << "->" << c.dw << "x" << c.dh;
    }
}

TEST(Resample, TransparentFootprintsAreTransparentBlack) {
    CImage32 src, dst;
    src.Resize(90, 70);
    dst.Resize(41, 33);
    std::mt19937 rng(2);
    FillRandom(src, rng, 2);
    for (int32_t k = 0; k < 90 * 70; ++k) src.Pixels()[k] &= 0x00FFFFFFu;
    Resample(dst, src, 41, 33);
    for (int32_t k = 0; k < 41 * 33; ++k) ASSERT_EQ(dst.Pixels()[k], 0u) << k;
}

TEST(Resample, TransparentPixelsAddNoColour) {
    // Opaque white and transparent black in a checkerboard: wherever a footprint mixes them
    // the colour stays white and the alpha lies strictly between.
    struct Case {
        int32_t sw, sh, dw, dh;
    } cases[] = {{2, 1, 1, 1}, {64, 64, 30, 30}, {64, 64, 100, 90}, {9, 9, 4, 4}};
    for (const Case& c : cases) {
        CImage32 src, dst;
        src.Resize(c.sw, c.sh);
        dst.Resize(c.dw, c.dh);
        for (int32_t i = 0; i < c.sh; ++i)
            for (int32_t j = 0; j < c.sw; ++j) src.SetPixel(j, i, (i + j) % 2 ? 0u : 0xFFFFFFFFu);
        Resample(dst, src, c.dw, c.dh);
        int mixed = 0;
        for (int32_t y = 0; y < c.dh; ++y) {
            for (int32_t x = 0; x < c.dw; ++x) {
                const uint32_t p = dst.GetPixel(x, y);
                if (p == 0) continue;
                ASSERT_EQ(p & 0xFFFFFFu, 0xFFFFFFu) << x << "," << y;
                mixed += (p >> 24) != 255;
            }
        }
        EXPECT_GT(mixed, 0);
    }
    CImage32 src, dst;
    src.Resize(2, 1);
    src.SetPixel(0, 0, 0xFFFFFFFFu);
    src.SetPixel(1, 0, 0u);
    Resample(dst, src, 1, 1);
    EXPECT_EQ(dst.GetPixel(0, 0), 0x7FFFFFFFu);  // weights 255 and 255, alpha 255 * 255 / 510
}

TEST(Resample, WritesOnlyTheRequestedRegion) {
    struct Case {
        int32_t width, height, wantW, wantH;
    } cases[] = {{1000, 1000, 40, 30}, {40, 30, 40, 30}, {17, 9, 17, 9}, {0, 30, 0, 0}, {-3, 5, 0, 0}, {40, 1, 40, 1}};
    std::mt19937 rng(3);
    for (const bool point : {true, false}) {
        CImage32 src;
        src.Resize(point ? 20 : 23, point ? 15 : 11);
        FillRandom(src, rng, 0);
        for (const Case& c : cases) {
            CImage32 dst;
            dst.Resize(40, 30);
            dst.Fill(0x5A5A5A5Au);  // never produced: the sources are opaque
            Resample(dst, src, c.width, c.height);
            for (int32_t y = 0; y < 30; ++y)
                for (int32_t x = 0; x < 40; ++x)
                    ASSERT_EQ(dst.GetPixel(x, y) == 0x5A5A5A5Au, x >= c.wantW || y >= c.wantH)
                        << point << " " << c.width << "x" << c.height << " at " << x << "," << y;
        }
    }
}

TEST(Resample, MatchesReferenceOnRandomImages) {
    std::mt19937 rng(4);
    std::uniform_int_distribution<int32_t> side(1, 80);
    const int32_t fixed[][4] = {{150, 7, 256, 9},  {1, 1, 3, 2},   {5, 1, 3, 1},  {1, 17, 1, 5},   {13, 11, 1, 1},
                                {100, 50, 256, 128}, {97, 89, 31, 29}, {2, 3, 7, 5}, {300, 20, 7, 19}, {64, 64, 65, 63}};
    for (const auto& f : fixed) {
        for (int mode = 0; mode < 4; ++mode) {
            CImage32 src;
            src.Resize(f[0], f[1]);
            FillRandom(src, rng, mode);
            ASSERT_TRUE(SameAsReference(src, f[2], f[3])) << "mode " << mode;
        }
    }
    for (int round = 0; round < 300; ++round) {
        CImage32 src;
        src.Resize(side(rng), side(rng));
        FillRandom(src, rng, round % 4);
        // Half the rounds shrink by up to 40x, half enlarge or keep the size.
        const int32_t dW = round % 2 ? std::max(1, src.Width() * 2 / side(rng)) : side(rng) + 1;
        const int32_t dH = round % 2 ? std::max(1, src.Height() * 2 / side(rng)) : side(rng) + 1;
        ASSERT_TRUE(SameAsReference(src, dW, dH)) << "round " << round;
    }
}

TEST(Resample, ReducesLargeFootprints) {
    // Footprints wider than a strip's span and taller than a row block.
    std::mt19937 rng(5);
    const int32_t cases[][4] = {{3000, 300, 2, 1}, {2100, 2, 1, 1}, {5, 1500, 2, 1}, {1300, 900, 3, 2}};
    for (const auto& c : cases) {
        CImage32 src;
        src.Resize(c[0], c[1]);
        FillRandom(src, rng, 2);
        EXPECT_TRUE(SameAsReference(src, c[2], c[3]));
    }
}

TEST(Resample, SourcesLargerThanTheCaches) {
    // Above 16 MiB the destination rows go in groups, each group strip by strip: group edges
    // must fall anywhere in a footprint, shared boundary rows included.
    std::mt19937 rng(9);
    CImage32 src;
    src.Resize(2400, 1800);
    FillRandom(src, rng, 1);
    const int32_t sizes[][2] = {{600, 450}, {150, 113}, {333, 257}, {2399, 1799}, {37, 1800}};
    for (const auto& d : sizes) EXPECT_TRUE(SameAsReference(src, d[0], d[1]));
}

TEST(Resample, SourcesOf32768PixelsOrMore) {
    std::mt19937 rng(6);
    CImage32 wide;
    wide.Resize(40000, 1);
    FillRandom(wide, rng, 2);
    EXPECT_TRUE(SameAsReference(wide, 300, 1));
    EXPECT_TRUE(SameAsReference(wide, 1, 1));

    CImage32 tall;
    tall.Resize(2, 33000);
    FillRandom(tall, rng, 1);
    EXPECT_TRUE(SameAsReference(tall, 3, 7));

    // Point sampling steps past 2^31 in 16.16 coordinates.
    CImage32 doubled;
    doubled.Resize(80000, 1);
    Resample(doubled, wide, 80000, 1);
    for (int32_t x = 0; x < 80000; ++x) ASSERT_EQ(doubled.GetPixel(x, 0), wide.GetPixel(x / 2, 0)) << x;
}

TEST(AreaSample, MatchesReferencePixels) {
    std::mt19937 rng(7);
    CImage32 src;
    src.Resize(61, 47);
    FillRandom(src, rng, 2);
    const int32_t steps[][2] = {{131072, 131072}, {40000, 70000}, {65536, 20000}, {300000, 9999}};
    for (const auto& s : steps) {
        for (int32_t y = 0; y < 12; ++y) {
            for (int32_t x = 0; x < 12; ++x) {
                uint32_t p = 1;
                src.AreaSample(s[0], s[1], x, y, &p);
                ASSERT_EQ(p, ReferenceAreaSample(src, s[0], s[1], x, y)) << s[0] << " " << s[1] << " " << x << "," << y;
            }
        }
    }
    uint32_t p = 1;
    src.AreaSample(65536, 65536, 0, 1000, &p);  // rows past the end
    EXPECT_EQ(p, 0u);
}

// A footprint that starts left of or above the source: the pixels outside read as 0, so they
// add weight and no colour. Random cases against the transcription (whose int32 products do
// not overflow here), plus a hand-checked one: columns -2 (A = 1), -1 (A = 255) and 0 (A = 0,
// raised to 255) over rows 0 and 1 (B = 255, 0) give alpha 510 * 255 / 66300 = 1.
TEST(AreaSample, NegativeStartsCountPixelsOutsideAsZero) {
    CImage32 flat;
    flat.Resize(4, 4);
    flat.Fill(0xFF336699u);
    uint32_t p = 0;
    flat.AreaSample(65836, 65536, -1, 0, &p);
    EXPECT_EQ(p, 0x01336699u);
    EXPECT_EQ(ReferenceAreaSample(flat, 65836, 65536, -1, 0), 0x01336699u);

    std::mt19937 rng(13);
    const auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    for (int round = 0; round < 400; ++round) {
        CImage32 src;
        src.Resize(pick(1, 40), pick(1, 40));
        FillRandom(src, rng, round % 4);
        const int32_t xStep = round % 5 == 0 ? pick(0, 65535) : pick(0, 400000);
        const int32_t yStep = round % 7 == 0 ? pick(0, 65535) : pick(0, 400000);
        int32_t x = pick(-30, 8), y = pick(-30, 8);
        if (x >= 0 && y >= 0) (round % 2 ? x : y) = -1 - pick(0, 5);
        p = 1;
        src.AreaSample(xStep, yStep, x, y, &p);
        ASSERT_EQ(p, ReferenceAreaSample(src, xStep, yStep, x, y))
            << src.Width() << "x" << src.Height() << " steps " << xStep << "," << yStep << " at " << x << "," << y;
    }
}

// Extreme arguments read nothing outside the source and end at once, however far the
// footprint lies outside (up to 32768 x 32768 pixels of it); negative steps give 0.
TEST(AreaSample, ExtremeArgumentsStayInsideTheSource) {
    std::mt19937 rng(14);
    CImage32 src;
    src.Resize(37, 23);
    FillRandom(src, rng, 2);
    const int32_t steps[] = {0, 1, 65536, 1 << 20, INT32_MAX};
    const int32_t coords[] = {INT32_MIN, INT32_MIN + 1, -65536, -1, 0, 36, 65535, INT32_MAX};
    for (int32_t xStep : steps)
        for (int32_t yStep : steps)
            for (int32_t x : coords)
                for (int32_t y : coords) {
                    uint32_t p = 1;
                    src.AreaSample(xStep, yStep, x, y, &p);
                    if (xStep <= (1 << 20) && yStep <= (1 << 20)) {
                        ASSERT_EQ(p, ReferenceAreaSample(src, xStep, yStep, x, y))
                            << xStep << "," << yStep << " at " << x << "," << y;
                    }
                }
    for (const int32_t s : {-1, INT32_MIN}) {
        uint32_t p = 1;
        src.AreaSample(s, 65536, 0, 0, &p);
        EXPECT_EQ(p, 0u);
        p = 1;
        src.AreaSample(65536, s, 0, 0, &p);
        EXPECT_EQ(p, 0u);
    }
}

// Every kernel set the processor runs must agree with the portable one, row kernel by row
// kernel, on random rows of every length (vector bodies and scalar tails).
TEST(ResampleKernels, AgreeWithScalar) {
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    const resample::Kernels& scalar = resample::ScalarKernels();
    std::mt19937 rng(8);
    std::uniform_int_distribution<uint32_t> any(0, 0xFFFFFFFFu);
    std::vector<uint32_t> row(700);
    const auto same = [](const resample::ColumnSum& x, const resample::ColumnSum& y) {
        return x.b == y.b && x.g == y.g && x.r == y.r && x.a == y.a;
    };
    for (size_t s = 1; s < count; ++s) {
        const resample::Kernels& k = *sets[s];
        for (int round = 0; round < 60; ++round) {
            for (uint32_t& p : row) p = round % 3 == 0 ? (any(rng) | 0xFF000000u) : any(rng);
            const size_t n = 1 + any(rng) % 699, offset = any(rng) % (700 - n + 1);
            const uint32_t* p = row.data() + offset;
            SCOPED_TRACE(std::string(names[s]) + " n=" + std::to_string(n));

            resample::AlphaRange ra, rb;
            scalar.alphaRange(p, n, ra);
            k.alphaRange(p, n, rb);
            EXPECT_EQ(ra.lo, rb.lo);
            EXPECT_EQ(ra.hi, rb.hi);

            std::vector<resample::PlainSum> pa(n, {1, 2, 3, 4}), pb = pa;
            resample::AlphaRange qa, qb;
            const ptrdiff_t stride = static_cast<ptrdiff_t>(700 - n) - static_cast<ptrdiff_t>(offset);
            scalar.plainRows(p, stride, 2, n, pa.data(), qa);
            k.plainRows(p, stride, 2, n, pb.data(), qb);
            EXPECT_EQ(qa.lo, qb.lo);
            EXPECT_EQ(qa.hi, qb.hi);
            for (size_t c = 0; c < n; ++c)
                ASSERT_TRUE(pa[c].b == pb[c].b && pa[c].g == pb[c].g && pa[c].r == pb[c].r && pa[c].a == pb[c].a) << c;

            // Column kernels: sums and alpha ranges over two rows.
            const uint32_t* other = row.data() + (700 - n);
            const uint32_t w = 1 + any(rng) % 255, w2 = any(rng) % 256;
            for (int kernel = 0; kernel < 2; ++kernel) {
                std::vector<resample::ColumnSum> a(n, {7, 8, 9, 10}), b = a;
                std::vector<uint32_t> alphaA(n, 0), alphaB(n, 0);
                if (kernel == 0) {  // rows p and other
                    scalar.premulRows(p, other - p, 2, n, a.data(), alphaA.data());
                    k.premulRows(p, other - p, 2, n, b.data(), alphaB.data());
                } else {
                    scalar.edgeRows(p, other, n, w, w2, a.data(), alphaA.data());
                    k.edgeRows(p, other, n, w, w2, b.data(), alphaB.data());
                }
                for (size_t c = 0; c < n; ++c) {
                    ASSERT_TRUE(same(a[c], b[c])) << "kernel " << kernel << " column " << c;
                    ASSERT_EQ(alphaA[c], alphaB[c]) << "kernel " << kernel << " column " << c;
                    const uint32_t lo = std::min(p[c] >> 24, other[c] >> 24), hi = std::max(p[c] >> 24, other[c] >> 24);
                    ASSERT_EQ(resample::AlphaWordLo(alphaA[c]), lo) << "kernel " << kernel << " column " << c;
                    ASSERT_EQ(resample::AlphaWordHi(alphaA[c]), hi) << "kernel " << kernel << " column " << c;
                }
            }

            std::vector<resample::EdgeColumns> cols(1 + any(rng) % 300);
            for (auto& c : cols) {
                c.first = static_cast<int32_t>(any(rng) % 700);
                c.last = static_cast<int32_t>(any(rng) % 700);
                c.wFirst = 1 + any(rng) % 255;
                c.wLast = any(rng) % 256;
            }
            std::vector<resample::ColumnSum> ea(cols.size(), {1, 2, 3, 4}), eb = ea;
            scalar.edgeColumns(row.data(), 0, 3, cols.data(), cols.size(), ea.data());  // one row thrice
            k.edgeColumns(row.data(), 0, 3, cols.data(), cols.size(), eb.data());
            for (size_t c = 0; c < cols.size(); ++c) ASSERT_TRUE(same(ea[c], eb[c])) << "edgeColumns " << c;
        }
    }
}

// The strip of destination columns from xa on, as the resampler builds it.
resample::StripColumns StripAt(resample::StripTables& tables, int32_t xa, int32_t dW, int64_t xStep, int64_t W) {
    resample::StripColumns strip{};
    strip.cols = tables.cols;
    strip.edges = tables.edges;
    strip.weights = tables.weights;
    resample::BuildStrip(strip, xa, dW, xStep, W);
    return strip;
}

// The kernel of footprints aligned to source pixels (whole-number ratios), driven row by row
// through a strip as the resampler drives it, against the plain transcription: odd sizes,
// ratios 1 to 16, strips that start anywhere, every alpha regime (alpha 1 is the one the
// first-row and first-column rounding treats apart).
TEST(ResampleKernels, AlignedRowsMatchReference) {
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    std::mt19937 rng(21);
    const auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    const int32_t ratios[] = {1, 2, 3, 4, 4, 5, 8, 16};
    for (int round = 0; round < 240; ++round) {
        const int32_t kx = ratios[pick(0, 7)], ky = round % 8 == 0 ? 16 : ratios[pick(0, 7)];
        const int32_t dW = pick(1, 45), dH = pick(1, 6);
        CImage32 src;
        src.Resize(kx * dW, ky * dH);
        FillRandom(src, rng, round % 6 < 5 ? round % 5 : kOpaque);
        if (round % 6 == 5) {
            // Opaque but for the columns (or rows) that start each block: a footprint's only
            // other alpha is then in its boundary column (row).
            for (int32_t i = 0; i < src.Height(); ++i)
                for (int32_t j = 0; j < src.Width(); ++j)
                    if ((round % 12 == 5 ? j % kx : i % ky) == 0) src.SetPixel(j, i, src.GetPixel(j, i) & 0x40FFFFFFu);
        }
        const int64_t xStep = resample::StepOf(src.Width(), dW), yStep = resample::StepOf(src.Height(), dH);
        resample::StripTables tables;
        const int32_t xa = pick(0, dW - 1);
        resample::StripColumns strip = StripAt(tables, xa, dW, xStep, src.Width());
        ASSERT_GE(strip.alignedBlock, 0) << kx;
        auto sums = std::make_unique<resample::StripSums>();
        for (int32_t y = 0; y < dH; ++y) {
            const resample::Footprint fy = resample::MakeFootprint(yStep, y, src.Height());
            resample::AlignedRowJob job;
            job.cols = strip.cols;
            job.count = static_cast<size_t>(strip.count);
            job.top = src.Pixels() + fy.first * src.Width();
            job.blockRows = static_cast<size_t>(fy.last - fy.first);
            job.bottom = job.top + static_cast<ptrdiff_t>(job.blockRows) * src.Width();
            job.stride = src.Width();
            job.spanFirst = strip.spanFirst;
            job.spanCount = static_cast<size_t>(strip.spanLast - strip.spanFirst + 1);
            job.blockSums = sums->innerSums;
            job.boundarySums = sums->edgeRowSums;
            job.alphas = sums->columnAlpha;
            for (size_t k = 0; k < count; ++k) {
                std::vector<uint32_t> out(job.count, 0x12345678u);
                job.out = out.data();
                sets[k]->alignedRow(job);
                for (size_t x = 0; x < job.count; ++x) {
                    const int64_t dx = xa + static_cast<int64_t>(x);
                    ASSERT_EQ(out[x], ReferenceAreaSample(src, xStep, yStep, dx, y))
                        << names[k] << " " << src.Width() << "x" << src.Height() << " -> " << dW << "x" << dH
                        << " at " << dx << "," << y;
                }
            }
        }
    }
}

// Whole ratios 4, 8 and 16 across (1024 to 256, 2048 to 256, 4096 to 256): blocks of one
// alpha (whose alpha is kept) beside blocks of mixed alphas (whose alpha is computed), strips
// that end inside the source and one that ends at its edge, every row ratio the kernels sum
// in 32 bits.
TEST(Resample, WholeBlocksOfOneAndOfMixedAlphas) {
    std::mt19937 rng(22);
    const int32_t shapes[][2] = {{300, 3}, {257, 2}, {64, 5}, {7, 4}, {520, 1}};
    for (const int32_t kx : {4, 8, 16}) {
        for (const auto& shape : shapes) {
            for (const int32_t ky : {1, 2, 4, 8, 16}) {
                CImage32 src;
                src.Resize(kx * shape[0], ky * shape[1]);
                FillRandom(src, rng, 1);
                // One block in three of one alpha (0, 1 or any), the others left mixed.
                for (int32_t by = 0; by < src.Height(); by += ky)
                    for (int32_t bx = 0; bx < src.Width(); bx += kx) {
                        if (rng() % 3 != 0) continue;
                        const uint32_t a = std::array<uint32_t, 4>{0, 1, 255, static_cast<uint32_t>(rng() & 255)}[rng() % 4] << 24;
                        for (int32_t i = by; i < by + ky; ++i)
                            for (int32_t j = bx; j < bx + kx; ++j)
                                src.SetPixel(j, i, (src.GetPixel(j, i) & 0xFFFFFFu) | a);
                    }
                ASSERT_TRUE(SameAsReference(src, shape[0], shape[1])) << "kx " << kx << " ky " << ky;
            }
        }
    }
}

// Pictures made of tiles of one alpha (what opaque and layered previews mostly are), at
// whole ratios: most blocks and their boundary rows then have one alpha, so the plain-sum path
// makes most pixels, next to tiles of other alphas. So many footprints catch a weight that is
// off by one, which moves a quotient only when it lands next to a whole number.
TEST(Resample, TilesOfOneAlphaAtWholeRatios) {
    std::mt19937 rng(31);
    CImage32 src;
    src.Resize(1024, 512);
    FillRandom(src, rng, 0);
    for (int32_t ty = 0; ty < src.Height(); ty += 32)
        for (int32_t tx = 0; tx < src.Width(); tx += 48) {
            const uint32_t a = std::array<uint32_t, 6>{0, 1, 2, 128, 255, static_cast<uint32_t>(rng() & 255)}[rng() % 6];
            for (int32_t i = ty; i < std::min(ty + 32, src.Height()); ++i)
                for (int32_t j = tx; j < std::min(tx + 48, src.Width()); ++j)
                    src.SetPixel(j, i, (src.GetPixel(j, i) & 0xFFFFFFu) | a << 24);
        }
    for (const int32_t kx : {4, 8, 16})
        for (const int32_t ky : {1, 3, 4, 16})
            EXPECT_TRUE(SameAsReference(src, src.Width() / kx, src.Height() / ky)) << "kx " << kx << " ky " << ky;
}

// The kernel of footprints of at most 2 x 2 source pixels (enlargements by ratios that are not
// whole numbers), against the plain transcription: ratios from just above 1 (where eight
// footprints span more than eight source columns) to 40, narrow sources whose last columns
// sit near the end of the row, every alpha regime.
TEST(ResampleKernels, NarrowRowsMatchReference) {
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    std::mt19937 rng(22);
    const auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    for (int round = 0; round < 300; ++round) {
        CImage32 src;
        src.Resize(pick(1, round % 3 ? 12 : 150), pick(1, 9));
        const int32_t dW = src.Width() + pick(1, round % 2 ? src.Width() / 4 + 1 : 40 * src.Width());
        const int32_t dH = src.Height() + pick(round % 5 == 0 ? 0 : 1, 3 * src.Height());
        FillRandom(src, rng, round % 5);
        const int64_t xStep = resample::StepOf(src.Width(), dW), yStep = resample::StepOf(src.Height(), dH);
        resample::StripTables tables;
        const int32_t xa = pick(0, dW - 1);
        resample::StripColumns strip = StripAt(tables, xa, dW, xStep, src.Width());
        ASSERT_TRUE(strip.narrow) << src.Width() << " -> " << dW;
        for (int32_t y = 0; y < dH; ++y) {
            const resample::Footprint fy = resample::MakeFootprint(yStep, y, src.Height());
            ASSERT_LE(fy.last - fy.first, 1);
            const uint32_t* top = src.Pixels() + fy.first * src.Width();
            for (size_t k = 0; k < count; ++k) {
                std::vector<uint32_t> out(static_cast<size_t>(strip.count), 0x12345678u);
                sets[k]->narrowRow({strip.edges, out.size(), top, fy.first == fy.last ? nullptr : top + src.Width(),
                                    static_cast<uint32_t>(fy.wFirst), static_cast<uint32_t>(fy.wLast), src.Width(),
                                    out.data()});
                for (size_t x = 0; x < out.size(); ++x) {
                    const int64_t dx = xa + static_cast<int64_t>(x);
                    ASSERT_EQ(out[x], ReferenceAreaSample(src, xStep, yStep, dx, y))
                        << names[k] << " " << src.Width() << "x" << src.Height() << " -> " << dW << "x" << dH
                        << " at " << dx << "," << y;
                }
            }
        }
    }
}

// Narrow footprints of opaque pixels take their shares as C - (C >= 258) with no alpha
// arithmetic: every column and row weight against the scalar kernel, on rows that are opaque
// and rows with one pixel just short of opaque (254), whose footprints must not take that path.
TEST(ResampleKernels, NarrowOpaqueRowsMatchScalarAtEveryWeight) {
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    std::mt19937 rng(7);
    constexpr size_t kColumns = 16;
    std::array<uint32_t, 40> top{}, bottom{};
    for (int variant = 0; variant < 3; ++variant)
        for (uint32_t B : {1u, 2u, 3u, 6u, 43u, 86u, 129u, 200u, 255u})
            for (uint32_t w = 1; w <= 255; ++w) {
                for (uint32_t& p : top) p = (rng() & 0x00FFFFFFu) | 0xFF000000u;
                for (uint32_t& p : bottom) p = (rng() & 0x00FFFFFFu) | 0xFF000000u;
                if (variant > 0) (variant == 1 ? top : bottom)[w % 9] = (rng() & 0x00FFFFFFu) | 0xFE000000u;
                // Odd columns cover two source pixels, even ones one.
                std::array<resample::EdgeColumns, kColumns> cols{};
                for (size_t x = 0; x < kColumns; ++x)
                    cols[x] = {static_cast<int32_t>(x / 2), static_cast<int32_t>(x / 2 + x % 2), w,
                               x % 2 ? std::max(1u, 256u - w) : 0u};
                std::array<uint32_t, kColumns> expected{}, out{};
                const resample::NarrowRowJob reference{cols.data(), kColumns, top.data(), bottom.data(), B, 255 - B + 1,
                                                       static_cast<int64_t>(top.size()), expected.data()};
                resample::NarrowRowScalar(reference);
                for (size_t k = 0; k < count; ++k) {
                    resample::NarrowRowJob job = reference;
                    job.out = out.data();
                    sets[k]->narrowRow(job);
                    ASSERT_EQ(out, expected) << names[k] << " w " << w << " B " << B << " variant " << variant;
                }
            }
}

}  // namespace
}  // namespace tarn
