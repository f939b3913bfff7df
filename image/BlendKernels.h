// The 23 per-pixel blend kernels of the kernel mode families, each in two forms: the
// opaque-destination kernel blends colour and keeps the destination alpha; the
// translucent-destination kernel also composites alpha. Header-only so that every row family
// (and the vector rows, for their tails) inlines the same scalar code.
#pragma once

#include <cstdint>

#include "image/BlendParams.h"
#include "image/BlendTables.h"
#include "image/Hcy.h"
#include "image/PixelMath.h"

namespace tarn {

enum BlendKernelIndex : int {
    kAdd, kAddScaled, kSubtract, kMultiply, kDivide, kOverlay, kScreen, kLighten, kDarken, kDifference,
    kExclusion, kColorDodge, kColorBurn, kLinearDodge, kLinearBurn, kSoftLight, kHardLight, kHue,
    kSaturation, kColor, kLuminosity, kHardMix, kInvertedExclusion,
    kBlendKernelCount
};

constexpr bool IsHcyKernel(int i) { return i >= kHue && i <= kLuminosity; }

// Blend value F(d, s) of one colour channel for the separable kernels.
template <int I>
inline uint32_t BlendValue(uint32_t d, uint32_t s) {
    if constexpr (I == kAdd || I == kLinearDodge) return Min(d + s, 255);
    else if constexpr (I == kSubtract) return d > s ? d - s : 0;
    else if constexpr (I == kMultiply) return mul255(s, d);
    else if constexpr (I == kDivide) return Min(d * 256 / (s + 1), 255);
    else if constexpr (I == kOverlay)
        return d >= 128 ? 255 - div255((255 - s) * (511 - 2 * d)) : div255(2 * s * d);
    else if constexpr (I == kScreen) return 255 - mul255(255 - d, 255 - s);
    else if constexpr (I == kLighten) return Max(d, s);
    else if constexpr (I == kDarken) return Min(d, s);
    else if constexpr (I == kDifference) return d > s ? d - s : s - d;
    else if constexpr (I == kExclusion) return d + s - div255(2 * s * d);
    else if constexpr (I == kColorDodge) return Min(d * 256 / (256 - s), 255);
    else if constexpr (I == kColorBurn) return 255 - Min((255 - d) * 256 / (s + 1), 255);
    else if constexpr (I == kLinearBurn) return d + s > 255 ? d + s - 255 : 0;
    else if constexpr (I == kSoftLight)
        return s >= 128 ? div255(2 * (255 - s) * d) + div255(sqrtTable[d] * (2 * s - 255))
                        : div255(div255((255 - 2 * s) * d * d)) + div255(2 * s * d);
    else if constexpr (I == kHardLight)
        return s >= 128 ? 255 - div255(2 * (255 - s) * (255 - d)) : div255(2 * s * d);
    else if constexpr (I == kHardMix) return d + s >= 255 ? 255 : 0;
    else static_assert(I < 0, "not a separable kernel");
}

// The three colour channels of F as a pixel word (alpha bits 0).
template <int I>
inline uint32_t BlendColours(uint32_t d, uint32_t s) {
    if constexpr (IsHcyKernel(I)) {
        const Hcy hd = RgbToHcy(Red(d), Green(d), Blue(d));
        const Hcy hs = RgbToHcy(Red(s), Green(s), Blue(s));
        Rgb8 c;
        if constexpr (I == kHue) c = HcyToRgb(hs.hue, hd.chroma, hd.luma, 255.0f);
        else if constexpr (I == kSaturation) c = HcyToRgb(hd.hue, hs.chroma, hd.luma, 255.0f);
        else if constexpr (I == kColor) c = HcyToRgb(hs.hue, hs.chroma, hd.luma, 255.0f);
        else c = HcyToRgb(hd.hue, hd.chroma, hs.luma, 255.0f);
        return PackPixel(0, c.r, c.g, c.b);
    } else {
        return PackPixel(0, BlendValue<I>(Red(d), Red(s)), BlendValue<I>(Green(d), Green(s)),
                         BlendValue<I>(Blue(d), Blue(s)));
    }
}

// d + sdiv255((255 - 2d) * e): the inverted-exclusion step towards 255 - d by weight e / 255.
inline uint32_t InvertedExclusionValue(uint32_t d, uint32_t e) {
    return static_cast<uint32_t>(static_cast<int32_t>(d) + sdiv255((255 - 2 * static_cast<int32_t>(d)) * static_cast<int32_t>(e)));
}

// Opaque-destination kernel: colour blended by coverage k, destination alpha untouched.
template <int I>
inline void OpaqueKernel(uint32_t& dst, uint32_t src, uint32_t opacity) {
    const uint32_t k = div255(Alpha(src) * opacity);
    if (k == 0) return;
    const uint32_t d = dst;
    if constexpr (I == kAddScaled) {
        dst = PackPixel(Alpha(d), Min(Red(d) + mul255(Red(src), k), 255), Min(Green(d) + mul255(Green(src), k), 255),
                        Min(Blue(d) + mul255(Blue(src), k), 255));
        return;
    } else if constexpr (I == kInvertedExclusion) {
        dst = PackPixel(Alpha(d), InvertedExclusionValue(Red(d), mul255(255 - Red(src), k)),
                        InvertedExclusionValue(Green(d), mul255(255 - Green(src), k)),
                        InvertedExclusionValue(Blue(d), mul255(255 - Blue(src), k)));
        return;
    } else {
        if constexpr (I == kMultiply)
            if ((src & 0x00FFFFFFu) == 0x00FFFFFFu) return;
        if constexpr (I == kHue)
            if (Red(d) == Green(d) && Green(d) == Blue(d)) return;  // grey: no hue to keep
        const uint32_t f = BlendColours<I>(d, src);
        if (k == 255) {
            dst = (d & 0xFF000000u) | f;
            return;
        }
        const uint32_t rest = 255 - k;
        dst = PackPixel(Alpha(d), div255(Red(f) * k + Red(d) * rest), div255(Green(f) * k + Green(d) * rest),
                        div255(Blue(f) * k + Blue(d) * rest));
    }
}

// Translucent-destination kernel: the blend value mixed with a straight-alpha source-over, and
// alpha composited.
template <int I>
inline void TranslucentKernel(uint32_t& dst, uint32_t src, uint32_t opacity) {
    const uint32_t d = dst;
    const uint32_t a = Alpha(d);
    const uint32_t c = Alpha(src) * opacity;
    if constexpr (I == kInvertedExclusion) {
        const uint32_t r = c + a * 255 - (c / 255) * a;
        if (r == 0) return;
        const uint32_t q = ((65025 - c) / 255) * a;
        const uint32_t w = a * (r / 255) / 255;
        const uint32_t k = div255(c);
        uint32_t out = (r / 255) << 24;
        for (int ch = 0; ch < 3; ++ch) {
            const uint32_t dc = Channel(d, ch), sc = Channel(src, ch);
            const uint32_t g = InvertedExclusionValue(dc, mul255(255 - sc, k));
            out |= (((c * sc + dc * q) / r * (255 - w) + w * g) / 255) << (8 * ch);
        }
        dst = out;
    } else {
        const uint32_t k = div255(c);
        const uint32_t r = a * 255 + c - a * k;
        if (r == 0) return;
        uint32_t w = (r + 510) >> 8;
        if (a != 255) w = div255(a * w);
        uint32_t f = 0;
        if constexpr (I != kAddScaled) f = BlendColours<I>(d, src);
        uint32_t out = (((r + 1) * 257) >> 16) << 24;
        for (int ch = 0; ch < 3; ++ch) {
            const uint32_t dc = Channel(d, ch), sc = Channel(src, ch);
            uint32_t x;
            if constexpr (I == kAddScaled) {
                x = Min(dc + mul255(sc, k), 255);
            } else {
                x = Channel(f, ch);
                if (k <= 254) x = div255(x * k + dc * (255 - k));
            }
            if (w <= 254) {
                const uint32_t n = ((255 - k) * a * dc + c * sc) / r;
                x = div255(n * (255 - w) + x * w);
            }
            out |= x << (8 * ch);
        }
        dst = out;
    }
}

// Row family of modes 5-27: the opaque kernel on every pixel the source covers; the
// destination keeps its alpha.
template <int I, bool Linear>
void KernelKeepAlphaRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i];
        if (Alpha(s) == 0) continue;
        if constexpr (Linear) {
            uint32_t d = MapColour(dst[i], toLinear);
            OpaqueKernel<I>(d, MapColour(s, toLinear), opacity);
            dst[i] = MapColour(d, fromLinear);
        } else {
            OpaqueKernel<I>(dst[i], s, opacity);
        }
    }
}

// Row family of modes 29-51: full compositing, the kernel chosen by the destination's alpha.
template <int I, bool Linear>
void KernelCompositeRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i];
        const uint32_t sa = Alpha(s);
        if (sa == 0) continue;
        const uint32_t a = Alpha(dst[i]);
        if (a == 0) {
            dst[i] = opacity == 255 ? s : WithAlpha(s, div255(sa * opacity));
            continue;
        }
        uint32_t d = Linear ? MapColour(dst[i], toLinear) : dst[i];
        const uint32_t sl = Linear ? MapColour(s, toLinear) : s;
        if (a == 255)
            OpaqueKernel<I>(d, sl, opacity);
        else
            TranslucentKernel<I>(d, sl, opacity);
        dst[i] = Linear ? MapColour(d, fromLinear) : d;
    }
}

}  // namespace tarn
