// The row functions of the modes that need no blend kernel, on hand-computed pixels.
#include <gtest/gtest.h>

#include "BlendTestUtil.h"
#include "image/BlendTables.h"

namespace tarn {
namespace {

using test::BlendOne;
using test::Params;

struct ModeCase {
    const char* what;
    int32_t mode;
    uint8_t opacity;
    uint32_t dst, src, expected;
};

TEST(BlendModes, HandComputedPixels) {
    const ModeCase cases[] = {
        {"copy keeps transparent source", 0, 255, 0xFF112233, 0x00ABCDEF, 0x00ABCDEF},
        {"copy ignores opacity", 0, 7, 0xFF112233, 0x80ABCDEF, 0x80ABCDEF},
        {"and", 1, 255, 0xF0F0F0F0, 0x3C3C3C3C, 0x30303030},
        {"or", 2, 255, 0xF0F0F0F0, 0x0C0C0C0C, 0xFCFCFCFC},
        // Mode 4: destination alpha kept, invisible pixels skipped.
        {"4 transparent source", 4, 255, 0x80102030, 0x00FFFFFF, 0x80102030},
        {"4 transparent destination", 4, 255, 0x00102030, 0xFFFFFFFF, 0x00102030},
        {"4 opaque source", 4, 255, 0x80102030, 0xFFAABBCC, 0x80AABBCC},
        {"4 half source", 4, 255, 0x40000000, 0x80FFFFFF, 0x40808080},
        {"4 half opacity", 4, 128, 0xFF000000, 0xFFFFFFFF, 0xFF808080},
        // Mode 28: source-over.
        {"28 transparent source", 28, 255, 0x80102030, 0x00FFFFFF, 0x80102030},
        {"28 onto transparent", 28, 128, 0x00000000, 0x80FF0000, 0x40FF0000},
        {"28 onto transparent, full opacity", 28, 255, 0x00000000, 0x80FF0000, 0x80FF0000},
        {"28 opaque source", 28, 255, 0x80102030, 0xFFAABBCC, 0xFFAABBCC},
        {"28 onto opaque", 28, 255, 0xFF000000, 0x80FFFFFF, 0xFF808080},
        {"28 translucent over translucent", 28, 255, 0x80000000, 0x80FFFFFF, 0xBFAAAAAA},
        {"28 equal channels stay", 28, 255, 0x80FF0000, 0x80FF00FF, 0xBFFF00AA},
        // Mode 52: subtractive erase of alpha.
        {"52 opaque source clears alpha", 52, 255, 0xFF123456, 0xFF000000, 0x00123456},
        {"52 partial", 52, 255, 0xC0123456, 0x40FFFFFF, 0x80123456},
        {"52 half opacity", 52, 128, 0xC0123456, 0xFF000000, 0x40123456},
        {"52 floor at 0", 52, 255, 0x10123456, 0x40000000, 0x00123456},
        {"52 transparent source", 52, 255, 0xC0123456, 0x00000000, 0xC0123456},
        // Mode 53: keep only what the source covers.
        {"53 opaque source", 53, 255, 0xC0123456, 0xFF000000, 0xC0123456},
        {"53 transparent source", 53, 255, 0xC0123456, 0x00000000, 0x00123456},
        {"53 partial", 53, 255, 0xFF123456, 0xC0000000, 0xC0123456},
        {"53 half opacity", 53, 128, 0xFF123456, 0x7F000000, 0xBF123456},
        // Mode 54: multiplicative erase.
        {"54 opaque destination", 54, 255, 0xFF123456, 0x40000000, 0xBF123456},
        {"54 half destination", 54, 255, 0x80123456, 0x80000000, 0x40123456},
        {"54 opaque source", 54, 255, 0x80123456, 0xFF000000, 0x00123456},
        {"54 half opacity", 54, 128, 0xFF123456, 0xFF000000, 0x7F123456},
        // Mode 63 (key 0 here): destination alpha kept.
        {"63 opaque source", 63, 255, 0x80FFFFFF, 0xFF0000FF, 0x800000FF},
        {"63 half source", 63, 255, 0x40000000, 0x80FFFFFF, 0x40808080},
        {"63 zero opacity", 63, 0, 0x40000000, 0xFFFFFFFF, 0x40000000},
        {"63 key colour skipped", 63, 255, 0x40101010, 0x00000000, 0x40101010},
    };
    for (const ModeCase& c : cases) EXPECT_EQ(BlendOne(Params(c.mode, c.opacity), c.dst, c.src), c.expected) << c.what;
}

TEST(BlendModes, KeyColourIsComparedAsAWholeWord) {
    BlendParams p = Params(63);
    p.keyColour = 0xFF00FF00;
    EXPECT_EQ(BlendOne(p, 0x80102030, 0xFF00FF00), 0x80102030u);
    EXPECT_EQ(BlendOne(p, 0x80102030, 0xFE00FF00), 0x8000FE00u);  // alpha differs: blended
}

TEST(BlendModes, PaintColourUsesOnlyTheSourceAlpha) {
    struct {
        const char* what;
        uint32_t colour, dst, src, expected;
    } cases[] = {
        {"opaque paint on transparent", 0xFFFF0000, 0x00000000, 0xFF00FF00, 0xFFFF0000},
        {"half mask on opaque black", 0xFFFFFFFF, 0xFF000000, 0x80123456, 0xFF808080},
        {"transparent mask", 0xFFFFFFFF, 0xFF000000, 0x00FFFFFF, 0xFF000000},
        {"transparent paint on transparent", 0x00FFFFFF, 0x00000000, 0xFFFFFFFF, 0x00000000},
        {"transparent paint keeps destination", 0x00FFFFFF, 0x80102030, 0xFFFFFFFF, 0x80102030},
    };
    for (const auto& c : cases) {
        BlendParams p = Params(64);
        p.colour = c.colour;
        EXPECT_EQ(BlendOne(p, c.dst, c.src), c.expected) << c.what;
    }
}

TEST(BlendModes, LinearLightNormalBlendUsesTheTables) {
    // 50 % white over black mixes 0 and 255 in linear light: fromLinear[div255(255 * 128)].
    const uint32_t v = fromLinear[128];
    const uint32_t grey = 0xFF000000u | v << 16 | v << 8 | v;
    EXPECT_EQ(BlendOne(Params(4, 255, true), 0xFF000000, 0x80FFFFFF), grey);
    EXPECT_EQ(BlendOne(Params(28, 255, true), 0xFF000000, 0x80FFFFFF), grey);
    EXPECT_EQ(BlendOne(Params(4, 255, false), 0xFF000000, 0x80FFFFFF), 0xFF808080u);
}

TEST(BlendModes, UnknownNumbersCopy) {
    const int32_t modes[] = {3, 55, 56, 60, 62, 65, 100, 1000, INT32_MAX, -1, -29, INT32_MIN};
    for (int32_t mode : modes) {
        for (bool linear : {false, true})
            EXPECT_EQ(BlendOne(Params(mode, 17, linear), 0xFF112233, 0x00ABCDEF), 0x00ABCDEFu) << mode;
        EXPECT_EQ(Params(mode).RowFunction(), Params(0).RowFunction()) << mode;
    }
}

}  // namespace
}  // namespace tarn
