#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "image/BandResampler.h"
#include "image/CImage32.h"
#include "image/ResampleKernels.h"
#include "tests/image/RandomImages.h"

namespace tarn {
namespace {

// Bands of random heights (1 row up to the whole source, with a bias to small bands).
std::vector<int32_t> RandomBands(int32_t H, std::mt19937& rng) {
    std::vector<int32_t> bands;
    for (int32_t left = H; left > 0;) {
        const int32_t most = rng() % 4 == 0 ? left : std::min(left, 1 + static_cast<int32_t>(rng() % 24));
        const int32_t n = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(most));
        bands.push_back(n);
        left -= n;
    }
    return bands;
}

// The source fed in the given bands through every kernel set, against Resample of the
// whole source with the same set.
::testing::AssertionResult SameAsResample(const CImage32& src, int32_t dW, int32_t dH,
                                          const std::vector<int32_t>& bands) {
    const resample::Kernels* sets[4];
    const char* names[4];
    const size_t count = resample::AvailableKernels(sets, 4, names);
    for (size_t k = 0; k < count; ++k) {
        CImage32 want, got;
        want.Resize(dW, dH);
        got.Resize(dW, dH);
        want.Fill(0x12345678u);
        got.Fill(0x9ABCDEF0u);
        resample::ResampleWith(*sets[k], want, src, dW, dH);
        BandResampler band;
        if (!band.Begin(got, src.Width(), src.Height(), *sets[k])) return ::testing::AssertionFailure() << "Begin";
        int32_t row = 0;
        for (int32_t n : bands) {
            band.Rows(src.RowAddress(row), n);
            row += n;
        }
        band.End();
        for (int32_t y = 0; y < dH; ++y)
            for (int32_t x = 0; x < dW; ++x)
                if (got.GetPixel(x, y) != want.GetPixel(x, y))
                    return ::testing::AssertionFailure()
                           << names[k] << ": " << src.Width() << "x" << src.Height() << " -> " << dW << "x" << dH
                           << " in " << bands.size() << " bands, at (" << x << ", " << y << "): got " << std::hex
                           << got.GetPixel(x, y) << " want " << want.GetPixel(x, y);
    }
    return ::testing::AssertionSuccess();
}

TEST(BandResampler, MatchesResampleOnRandomSizesAndBands) {
    std::mt19937 rng(20261207);
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t W = 1 + static_cast<int32_t>(rng() % (trial % 3 == 0 ? 8 : 700));
        const int32_t H = 1 + static_cast<int32_t>(rng() % (trial % 5 == 0 ? 8 : 700));
        CImage32 src;
        ASSERT_TRUE(src.Resize(W, H));
        FillRandom(src, rng, trial % 4 == 3 ? kRareOddPixels : trial % 4);
        // Reductions mostly, enlargements and whole multiples too.
        int32_t dW, dH;
        switch (trial % 6) {
            case 0: dW = W * (1 + static_cast<int32_t>(rng() % 3)), dH = H * (1 + static_cast<int32_t>(rng() % 3)); break;
            case 1: dW = 1 + static_cast<int32_t>(rng() % (2 * W + 2)), dH = 1 + static_cast<int32_t>(rng() % (2 * H + 2)); break;
            // Footprints taller than a block of rows: summed as the rows go by.
            case 2: dW = 1 + static_cast<int32_t>(rng() % W), dH = 1 + static_cast<int32_t>(rng() % (H / 131 + 1)); break;
            default: dW = 1 + static_cast<int32_t>(rng() % W), dH = 1 + static_cast<int32_t>(rng() % H); break;
        }
        dW = std::min(dW, 1500), dH = std::min(dH, 1500);
        ASSERT_TRUE(SameAsResample(src, dW, dH, RandomBands(H, rng))) << "trial " << trial;
    }
}

TEST(BandResampler, MatchesResampleOnChosenShapes) {
    struct Case {
        int32_t W, H, dW, dH;
    } cases[] = {
        {1, 1, 1, 1},      {1, 1, 256, 256},   {300, 200, 256, 170}, {1024, 1, 256, 1},  {1, 1024, 1, 256},
        {1000, 999, 256, 255}, {150, 150, 256, 256}, {100, 50, 200, 100}, {7, 3, 256, 109}, {4096, 300, 1, 1},
        {600, 2000, 77, 256},  {2000, 600, 256, 76},   // strips wider than a span, footprints taller than a block
        {40000, 2, 256, 1},    {2, 40000, 1, 256},     // 32768 or more along an axis
        {40000, 200, 256, 3},  {300, 1000, 100, 7},    // footprints of more than 8 MiB, of 130 rows and more
        {5000, 390, 17, 3},    {390, 390, 5, 3},
        // Four columns to one with whole rows down (the whole-row kernel and its tail strip),
        // the last row of a one-to-one ratio down having a single source row.
        {1024, 1024, 256, 256}, {96, 8, 24, 2}, {1200, 48, 300, 3}, {4096, 64, 1024, 16}, {100, 25, 25, 25},
        {100, 50, 25, 25},      {28, 4, 7, 1},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        CImage32 src;
        ASSERT_TRUE(src.Resize(c.W, c.H));
        for (int alpha : {0, 2}) {
            FillRandom(src, rng, alpha);
            const std::vector<int32_t> whole{c.H}, single(static_cast<size_t>(c.H), 1);
            EXPECT_TRUE(SameAsResample(src, c.dW, c.dH, whole));
            EXPECT_TRUE(SameAsResample(src, c.dW, c.dH, single));
            EXPECT_TRUE(SameAsResample(src, c.dW, c.dH, RandomBands(c.H, rng)));
        }
    }
}

// Rows past the last one a destination row reads change nothing; a source that stops early
// leaves the rows it could not make as they were.
TEST(BandResampler, WritesEachRowOnceItsFootprintIsIn) {
    CImage32 src, got;
    ASSERT_TRUE(src.Resize(64, 64));
    src.Fill(0xFF102030u);
    ASSERT_TRUE(got.Resize(16, 16));
    got.Fill(0u);
    BandResampler band;
    ASSERT_TRUE(band.Begin(got, 64, 64));
    band.Rows(src.RowAddress(0), 9);  // footprints of rows 0 and 1 end at source rows 4 and 8
    EXPECT_EQ(got.GetPixel(5, 1), 0xFF102030u);
    EXPECT_EQ(got.GetPixel(5, 2), 0u);
    band.Rows(src.RowAddress(9), 55);
    EXPECT_EQ(got.GetPixel(15, 15), 0xFF102030u);
}

}  // namespace
}  // namespace tarn
