// Fast rows against plain references on random data: every instruction set must give the
// scalar formulas' results bit for bit.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "BlendTestUtil.h"

namespace tarn {
namespace {

using test::Params;

// Pixels with the values that take special paths (alpha 0 and 255, greys, black, white,
// channels at the ends of their range) as often as ordinary ones, and source colours that
// sometimes equal the destination's.
struct RandomRows {
    std::vector<uint32_t> dst, src;
    RandomRows(size_t n, uint32_t seed) : dst(n), src(n) {
        std::mt19937 rng(seed);
        auto byte = [&] {
            static const uint32_t edges[] = {0, 1, 127, 128, 254, 255};
            return rng() % 2 ? edges[rng() % 6] : rng() & 0xFF;
        };
        auto colour = [&] {
            const uint32_t r = byte();
            return rng() % 4 == 0 ? r * 0x010101u : r << 16 | byte() << 8 | byte();
        };
        for (size_t i = 0; i < n; ++i) {
            dst[i] = byte() << 24 | colour();
            src[i] = byte() << 24 | (rng() % 8 == 0 ? dst[i] & 0xFFFFFF : colour());
        }
    }
};

int Ch(uint32_t p, int c) { return static_cast<int>((p >> (8 * c)) & 0xFF); }
int D255(int t) { return (t + 1 + ((t + 1) >> 8)) >> 8; }

// The formulas of modes 8, 10, 11 (destination alpha kept) and 28, written plainly.
uint32_t Reference(int32_t mode, int opacity, uint32_t d, uint32_t s) {
    const int sa = Ch(s, 3), a = Ch(d, 3);
    if (sa == 0) return d;
    const int k = D255(sa * opacity);
    uint32_t out = 0;
    if (mode == 28) {
        if (a == 0) return opacity == 255 ? s : (s & 0xFFFFFF) | uint32_t(k) << 24;
        if (sa == 255 && opacity == 255) return s;
        const int h = sa * opacity, r = h + a * 255 - k * a;
        for (int c = 0; c < 3; ++c) {
            const int v = a == 255 ? D255(Ch(s, c) * k + Ch(d, c) * (255 - k))
                                   : (h * Ch(s, c) + (255 - k) * a * Ch(d, c)) / r;
            out |= uint32_t(v) << (8 * c);
        }
        return out | uint32_t(a == 255 ? 255 : D255(r)) << 24;
    }
    if (k == 0) return d;
    for (int c = 0; c < 3; ++c) {
        const int dc = Ch(d, c), sc = Ch(s, c);
        int f = 0;
        if (mode == 8) f = D255(sc * dc);
        if (mode == 10) f = dc >= 128 ? 255 - D255((255 - sc) * (511 - 2 * dc)) : D255(2 * sc * dc);
        if (mode == 11) f = 255 - D255((255 - dc) * (255 - sc));
        out |= uint32_t(D255(f * k + dc * (255 - k))) << (8 * c);
    }
    return out | (d & 0xFF000000);
}

TEST(BlendVector, FastRowsMatchPlainReference) {
    for (int32_t mode : {8, 10, 11, 28})
        for (int opacity : {255, 200, 1, 0})
            for (PixelIsa isa : test::AvailableIsas()) {
                RandomRows rows(4099, static_cast<uint32_t>(mode * 1000 + opacity));
                std::vector<uint32_t> expected(rows.dst.size());
                for (size_t i = 0; i < expected.size(); ++i) expected[i] = Reference(mode, opacity, rows.dst[i], rows.src[i]);
                const BlendParams p = Params(mode, static_cast<uint8_t>(opacity));
                ResolveRowFunction(mode, false, isa)(p, rows.dst.data(), rows.src.data(), static_cast<int32_t>(rows.dst.size()));
                for (size_t i = 0; i < expected.size(); ++i)
                    ASSERT_EQ(rows.dst[i], expected[i]) << "mode " << mode << " opacity " << opacity << " isa "
                                                        << static_cast<int>(isa) << " pixel " << i;
            }
}

TEST(BlendVector, EveryModeMatchesScalarAtEveryAlignment) {
    if (test::AvailableIsas().size() < 2) GTEST_SKIP() << "no vector instruction set here";
    for (int32_t mode = -1; mode <= 66; ++mode)
        for (bool linear : {false, true})
            for (int opacity : {255, 128, 3}) {
                const BlendParams p = Params(mode, static_cast<uint8_t>(opacity), linear);
                for (int offset = 0; offset < 3; ++offset) {
                    RandomRows scalar(600, static_cast<uint32_t>(mode * 7 + opacity + offset)), fast = scalar;
                    const int32_t count = 600 - 2 * offset - 5;
                    ResolveRowFunction(mode, linear, PixelIsa::Scalar)(p, scalar.dst.data() + offset,
                                                                       scalar.src.data() + 2 * offset, count);
                    ResolveRowFunction(mode, linear, PixelIsa::Avx2)(p, fast.dst.data() + offset, fast.src.data() + 2 * offset,
                                                                     count);
                    ASSERT_EQ(scalar.dst, fast.dst) << "mode " << mode << " linear " << linear << " opacity " << opacity;
                }
            }
}

TEST(BlendVector, OverlappingRowsMatchScalar) {
    if (test::AvailableIsas().size() < 2) GTEST_SKIP() << "no vector instruction set here";
    for (int32_t mode : {8, 10, 11, 22, 28})
        for (int shift : {-3, -1, 0, 1, 9}) {
            RandomRows scalar(300, static_cast<uint32_t>(mode + shift)), fast = scalar;
            const BlendParams p = Params(mode, 200);
            ResolveRowFunction(mode, false, PixelIsa::Scalar)(p, scalar.dst.data() + 20, scalar.dst.data() + 20 + shift, 250);
            ResolveRowFunction(mode, false, PixelIsa::Avx2)(p, fast.dst.data() + 20, fast.dst.data() + 20 + shift, 250);
            ASSERT_EQ(scalar.dst, fast.dst) << "mode " << mode << " shift " << shift;
        }
}

}  // namespace
}  // namespace tarn
