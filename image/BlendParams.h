// The parameter block of a blit: which blend mode, how opaque, and the colours two modes use.
#pragma once

#include <cstdint>

namespace tarn {

struct BlendParams;

// Blends `count` source pixels onto the destination row in place; both rows are walked in step.
using BlendRowFunction = void (*)(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);

// Blend mode numbers with a row function of their own; every other number copies.
enum BlendMode : int32_t {
    kBlendCopy = 0,
    kBlendAnd = 1,
    kBlendOr = 2,
    kBlendNormalKeepAlpha = 4,
    kBlendKernelKeepAlphaFirst = 5,   // kernel index = mode - 5
    kBlendKernelKeepAlphaLast = 27,
    kBlendNormal = 28,
    kBlendKernelCompositeFirst = 29,  // kernel index = mode - 29
    kBlendKernelCompositeLast = 51,
    kBlendSubtractiveErase = 52,
    kBlendClipToSource = 53,
    kBlendMultiplicativeErase = 54,
    kBlendKeyColourSkip = 63,
    kBlendPaintColour = 64,
};

struct BlendParams {
    int32_t reserved = -1;            // not read by any row function
    int32_t mode = kBlendCopy;
    uint8_t opacity = 255;            // applied to the source alpha
    uint8_t linearLight = 0;          // kernels and normal blends mix in gamma-1.8 linear light
    uint32_t colour = 0xFF000000u;    // paint colour of mode 64
    uint32_t keyColour = 0;           // source word that mode 63 skips

    // The row function of `mode` (and `linearLight`), resolved once per blit.
    BlendRowFunction RowFunction() const;
};

}  // namespace tarn
