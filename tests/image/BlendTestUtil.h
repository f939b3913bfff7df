// Runs one blend mode on rows of identical pixels with every instruction set this machine has,
// so that hand-computed cases check the vector rows as well as the scalar ones.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/BlendParams.h"
#include "image/BlendRows.h"

namespace tarn::test {

inline std::vector<PixelIsa> AvailableIsas() {
    std::vector<PixelIsa> isas{PixelIsa::Scalar};
    if (BestPixelIsa() == PixelIsa::Avx2) isas.push_back(PixelIsa::Avx2);
    return isas;
}

inline BlendParams Params(int32_t mode, uint8_t opacity = 255, bool linear = false) {
    BlendParams p;
    p.mode = mode;
    p.opacity = opacity;
    p.linearLight = linear ? 1 : 0;
    return p;
}

// Blends src onto dst; fails the test if the instruction sets or the row positions disagree.
inline uint32_t BlendOne(const BlendParams& p, uint32_t dst, uint32_t src) {
    constexpr int kRow = 19;  // two vector steps and a tail
    uint32_t result = 0;
    bool first = true;
    for (PixelIsa isa : AvailableIsas()) {
        std::vector<uint32_t> d(kRow, dst), s(kRow, src);
        ResolveRowFunction(p.mode, p.linearLight != 0, isa)(p, d.data(), s.data(), kRow);
        for (int i = 0; i < kRow; ++i) {
            if (first && i == 0) result = d[0];
            EXPECT_EQ(d[i], result) << "isa " << static_cast<int>(isa) << " pixel " << i;
        }
        first = false;
    }
    return result;
}

}  // namespace tarn::test
