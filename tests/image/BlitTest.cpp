#include <gtest/gtest.h>

#include <climits>

#include "image/BlendParams.h"
#include "image/BlitRect.h"
#include "image/CImage32.h"

namespace tarn {
namespace {

struct ClipCase {
    const char* what;
    ImageSize src, dst;
    BlitRect in;
    bool ok;
    BlitRect out;  // only checked when ok
};

TEST(ClipBlitRect, Cases) {
    const ClipCase cases[] = {
        {"inside", {10, 10}, {50, 50}, {0, 0, 10, 10, 5, 5}, true, {0, 0, 10, 10, 5, 5}},
        {"negative dstX", {100, 60}, {50, 50}, {0, 0, 100, 60, -10, 5}, true, {10, 0, 50, 45, 0, 5}},
        {"negative dstY", {10, 10}, {50, 50}, {0, 0, 10, 10, 3, -4}, true, {0, 4, 10, 6, 3, 0}},
        {"negative srcX", {10, 10}, {50, 50}, {-5, 0, 20, 10, 0, 0}, true, {0, 0, 10, 10, 5, 0}},
        {"wider than source", {10, 10}, {50, 50}, {0, 0, 1000, 1000, 0, 0}, true, {0, 0, 10, 10, 0, 0}},
        {"past right edge", {10, 10}, {50, 50}, {0, 0, 10, 10, 45, 47}, true, {0, 0, 5, 3, 45, 47}},
        {"huge size near edge", {10, 10}, {50, 50}, {0, 0, INT_MAX, INT_MAX, 40, 40}, true, {0, 0, 10, 10, 40, 40}},
        {"one pixel at the corner", {10, 10}, {50, 50}, {0, 0, 10, 10, -9, -9}, true, {9, 9, 1, 1, 0, 0}},
        {"left of destination", {10, 10}, {50, 50}, {0, 0, 10, 10, -10, 0}, false, {}},
        {"above destination", {10, 10}, {50, 50}, {0, 0, 10, 10, 0, -10}, false, {}},
        {"right of destination", {10, 10}, {50, 50}, {0, 0, 10, 10, 50, 0}, false, {}},
        {"below destination", {10, 10}, {50, 50}, {0, 0, 10, 10, 0, 50}, false, {}},
        {"width 0", {10, 10}, {50, 50}, {0, 0, 0, 10, 0, 0}, false, {}},
        {"height 0", {10, 10}, {50, 50}, {0, 0, 10, 0, 0, 0}, false, {}},
        {"negative width", {10, 10}, {50, 50}, {0, 0, -5, 10, 20, 0}, false, {}},
        {"source origin past source", {10, 10}, {50, 50}, {10, 0, 5, 5, 0, 0}, false, {}},
        {"source run ends before 0", {10, 10}, {50, 50}, {-20, 0, 10, 10, 0, 0}, false, {}},
        {"shift pushes past destination", {10, 10}, {50, 50}, {-5, 0, 10, 10, 46, 0}, false, {}},
        {"extreme origin", {10, 10}, {50, 50}, {0, 0, 10, 10, INT_MIN, INT_MIN}, false, {}},
        {"extreme both", {10, 10}, {50, 50}, {INT_MIN, 0, INT_MAX, 10, 0, 0}, false, {}},
        {"extreme source and destination", {10, 10}, {50, 50}, {INT_MIN + 5, 0, INT_MAX, 10, 10, 0}, false, {}},
    };
    for (const ClipCase& c : cases) {
        BlitRect r = c.in;
        EXPECT_EQ(ClipBlitRect(c.src, c.dst, r), c.ok) << c.what;
        if (!c.ok) continue;
        EXPECT_EQ(r.srcX, c.out.srcX) << c.what;
        EXPECT_EQ(r.srcY, c.out.srcY) << c.what;
        EXPECT_EQ(r.width, c.out.width) << c.what;
        EXPECT_EQ(r.height, c.out.height) << c.what;
        EXPECT_EQ(r.dstX, c.out.dstX) << c.what;
        EXPECT_EQ(r.dstY, c.out.dstY) << c.what;
    }
}

constexpr uint32_t kSentinel = 0x12345678u;

uint32_t Marker(int32_t x, int32_t y) { return 0x80000000u | static_cast<uint32_t>(y << 12 | x); }

void FillMarkers(CImage32& image) {
    for (int32_t y = 0; y < image.Height(); ++y)
        for (int32_t x = 0; x < image.Width(); ++x) image.SetPixel(x, y, Marker(x, y));
}

TEST(Blit, NegativeOriginCopiesTheClippedBlock) {
    CImage32 source, canvas;
    ASSERT_TRUE(source.Resize(100, 60));
    ASSERT_TRUE(canvas.Resize(50, 50));
    FillMarkers(source);
    canvas.Fill(kSentinel);
    BlendParams params;
    ASSERT_TRUE(canvas.Blit(params, -10, 5, source, 100, 60));
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 50; ++x) {
            const uint32_t expected = y < 5 ? kSentinel : Marker(x + 10, y - 5);
            ASSERT_EQ(canvas.GetPixel(x, y), expected) << x << "," << y;
        }
}

TEST(Blit, NothingLeftAfterClippingChangesNothing) {
    CImage32 source, canvas;
    ASSERT_TRUE(source.Resize(10, 10));
    ASSERT_TRUE(canvas.Resize(20, 20));
    FillMarkers(source);
    canvas.Fill(kSentinel);
    BlendParams params;
    const struct {
        int32_t x, y, w, h;
    } misses[] = {{20, 0, 10, 10}, {0, 20, 10, 10}, {-10, 0, 10, 10}, {0, -10, 10, 10}, {0, 0, 0, 10}, {0, 0, 10, 0}, {0, 0, -3, -3}};
    for (const auto& m : misses) {
        EXPECT_FALSE(canvas.Blit(params, m.x, m.y, source, m.w, m.h)) << m.x << "," << m.y << " " << m.w << "x" << m.h;
    }
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(canvas.GetPixel(x, y), kSentinel);
}

TEST(Blit, OntoItselfBehavesLikeAMove) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(8, 1));
    for (int32_t x = 0; x < 8; ++x) image.SetPixel(x, 0, static_cast<uint32_t>(x));
    BlendParams params;
    ASSERT_TRUE(image.Blit(params, 1, 0, image, 8, 1));
    const uint32_t expected[8] = {0, 0, 1, 2, 3, 4, 5, 6};
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(image.GetPixel(x, 0), expected[x]) << x;
}

// Rows go top to bottom, so a block moved down within one image repeats its first row (each
// source row below it is overwritten before it is read); moved up, it arrives intact.
TEST(Blit, OntoItselfRowsAreCopiedTopToBottom) {
    const struct {
        int32_t dstY;
        uint32_t rows[4];  // the row number each image row holds afterwards
    } cases[] = {{1, {0, 0, 0, 0}}, {2, {0, 1, 0, 1}}, {-1, {1, 2, 3, 3}}};
    for (const auto& c : cases) {
        CImage32 image;
        ASSERT_TRUE(image.Resize(3, 4));
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 3; ++x) image.SetPixel(x, y, static_cast<uint32_t>(y));
        ASSERT_TRUE(image.Blit(BlendParams{}, 0, c.dstY, image, 3, 4));
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(image.GetPixel(x, y), c.rows[y]) << c.dstY << ": " << x << "," << y;
    }
}

constexpr uint32_t kWhite = 0xFFFFFFFFu, kGrey = 0xFFE0E0E0u;

TEST(FillChecker, EightPixelCells) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(64, 64));
    ASSERT_TRUE(image.FillChecker(64, 64, kWhite, kGrey));
    const struct {
        int32_t x, y;
        uint32_t expected;
    } cells[] = {{0, 0, kWhite}, {7, 7, kWhite}, {8, 0, kGrey}, {0, 8, kGrey}, {8, 8, kWhite},
                 {15, 7, kGrey}, {16, 0, kWhite}, {63, 63, kWhite}, {63, 55, kGrey}};
    for (const auto& c : cells) EXPECT_EQ(image.GetPixel(c.x, c.y), c.expected) << c.x << "," << c.y;
}

TEST(FillChecker, RegionIsCutToTheImageAndOnlyItIsWritten) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(12, 12));
    image.Fill(kSentinel);
    ASSERT_TRUE(image.FillChecker(10, 4, kWhite, kGrey));
    EXPECT_EQ(image.GetPixel(9, 3), kGrey);
    EXPECT_EQ(image.GetPixel(10, 0), kSentinel);
    EXPECT_EQ(image.GetPixel(0, 4), kSentinel);

    ASSERT_TRUE(image.FillChecker(1000, 1000, kWhite, kGrey));
    EXPECT_EQ(image.GetPixel(11, 11), kWhite);
    EXPECT_EQ(image.GetPixel(11, 0), kGrey);
}

TEST(FillChecker, EmptyRegionWritesNothing) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(8, 8));
    image.Fill(kSentinel);
    EXPECT_FALSE(image.FillChecker(0, 8, kWhite, kGrey));
    EXPECT_FALSE(image.FillChecker(8, 0, kWhite, kGrey));
    EXPECT_FALSE(image.FillChecker(-1, 8, kWhite, kGrey));
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) ASSERT_EQ(image.GetPixel(x, y), kSentinel);
}

}  // namespace
}  // namespace tarn
