// The row functions that need no blend kernel: copy, bitwise, normal blends, erases and paint.
#include <cstring>

#include "image/BlendRows.h"
#include "image/BlendRowsScalar.h"
#include "image/BlendTables.h"
#include "image/PixelMath.h"

namespace tarn {
namespace {

constexpr int kBatch = 16;  // words per step of the bitwise rows

template <typename Op>
void BitwiseRow(uint32_t* dst, const uint32_t* src, int32_t count, Op op) {
    int32_t i = 0;
    if (!RowsOverlap(dst, src, count)) {
        uint32_t* __restrict d = dst;
        const uint32_t* __restrict s = src;
        for (; i + kBatch <= count; i += kBatch)
            for (int j = 0; j < kBatch; ++j) d[i + j] = op(d[i + j], s[i + j]);
    }
    for (; i < count; ++i) dst[i] = op(dst[i], src[i]);
}

// div255(s * k + d * (255 - k)) on one channel, optionally through the linear-light tables.
template <bool Linear>
inline uint32_t Mix(uint32_t d, uint32_t s, uint32_t k) {
    if constexpr (Linear) return fromLinear[div255(toLinear[s] * k + toLinear[d] * (255 - k))];
    else return div255(s * k + d * (255 - k));
}

template <bool Linear>
inline uint32_t MixColours(uint32_t d, uint32_t s, uint32_t k) {
    return PackPixel(0, Mix<Linear>(Red(d), Red(s), k), Mix<Linear>(Green(d), Green(s), k),
                     Mix<Linear>(Blue(d), Blue(s), k));
}

}  // namespace

void CopyRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count) {
    if (count > 0) std::memmove(dst, src, static_cast<size_t>(count) * sizeof(uint32_t));
}

void AndRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count) {
    BitwiseRow(dst, src, count, [](uint32_t d, uint32_t s) { return d & s; });
}

void OrRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count) {
    BitwiseRow(dst, src, count, [](uint32_t d, uint32_t s) { return d | s; });
}

template <bool Linear>
void NormalKeepAlphaRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i], d = dst[i];
        const uint32_t sa = Alpha(s);
        if (sa == 0 || Alpha(d) == 0) continue;
        if (sa == 255 && opacity == 255) {
            dst[i] = (d & 0xFF000000u) | (s & 0x00FFFFFFu);
            continue;
        }
        dst[i] = (d & 0xFF000000u) | MixColours<Linear>(d, s, div255(sa * opacity));
    }
}
template void NormalKeepAlphaRow<false>(const BlendParams&, uint32_t*, const uint32_t*, int32_t);
template void NormalKeepAlphaRow<true>(const BlendParams&, uint32_t*, const uint32_t*, int32_t);

template <bool Linear>
void NormalRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i], d = dst[i];
        const uint32_t sa = Alpha(s);
        if (sa == 0) continue;
        const uint32_t a = Alpha(d);
        if (a == 0) {
            dst[i] = opacity == 255 ? s : WithAlpha(s, div255(sa * opacity));
            continue;
        }
        if (sa == 255 && opacity == 255) {
            dst[i] = s;
            continue;
        }
        const uint32_t h = sa * opacity;
        const uint32_t k = div255(h);
        if (a == 255) {
            dst[i] = 0xFF000000u | MixColours<Linear>(d, s, k);
            continue;
        }
        const uint32_t r = h + a * 255 - k * a;  // result alpha x 255; > 0 since a > 0
        const uint32_t wd = (255 - k) * a;
        uint32_t out = div255(r) << 24;
        for (int ch = 0; ch < 3; ++ch) {
            uint32_t dc = Channel(d, ch);
            const uint32_t sc = Channel(s, ch);
            if (sc != dc) {
                if constexpr (Linear) dc = fromLinear[(h * toLinear[sc] + wd * toLinear[dc]) / r];
                else dc = (h * sc + wd * dc) / r;
            }
            out |= dc << (8 * ch);
        }
        dst[i] = out;
    }
}
template void NormalRow<false>(const BlendParams&, uint32_t*, const uint32_t*, int32_t);
template void NormalRow<true>(const BlendParams&, uint32_t*, const uint32_t*, int32_t);

void SubtractiveEraseRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = Alpha(src[i]);
        if (s == 0) continue;
        const uint32_t a = Alpha(dst[i]);
        const uint32_t e = opacity == 255 ? s : div255(opacity * s);
        dst[i] = WithAlpha(dst[i], a > e ? a - e : 0);
    }
}

void ClipToSourceRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = Alpha(src[i]);
        if (s == 255) continue;
        const uint32_t a = Alpha(dst[i]);
        const uint32_t e = opacity == 255 ? 255 - s : div255(opacity * (255 - s));
        dst[i] = WithAlpha(dst[i], a > e ? a - e : 0);
    }
}

void MultiplicativeEraseRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = Alpha(src[i]);
        if (s == 0) continue;
        const uint32_t a = Alpha(dst[i]);
        const uint32_t e = opacity == 255 ? s : div255(opacity * s);
        const uint32_t left = e == 255 ? 0 : a == 255 ? a - e : a - div255(a * e);
        dst[i] = WithAlpha(dst[i], left);
    }
}

void KeyColourSkipRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t opacity = params.opacity, key = params.keyColour;
    if (opacity == 0) return;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i], d = dst[i];
        const uint32_t sa = Alpha(s);
        if (s == key || sa == 0) continue;
        if (sa == 255 && opacity == 255) {
            dst[i] = (d & 0xFF000000u) | (s & 0x00FFFFFFu);
            continue;
        }
        const uint32_t e = opacity == 255 ? sa : div255(opacity * sa);
        dst[i] = (d & 0xFF000000u) | MixColours<false>(d, s, e);
    }
}

void PaintColourRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    const uint32_t colour = params.colour;
    const uint32_t colourAlpha = Alpha(colour);
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t m = Alpha(src[i]);
        if (m == 0) continue;
        const uint32_t d = dst[i];
        const uint32_t a = Alpha(d);
        const uint32_t cover = colourAlpha * m;
        const uint32_t e = div255(cover);
        const uint32_t r = cover + a * 255 - a * e;
        if (r == 0) continue;
        const uint32_t wd = (255 - e) * a;
        uint32_t out = div255(r) << 24;
        for (int ch = 0; ch < 3; ++ch) {
            uint32_t dc = Channel(d, ch);
            const uint32_t cc = Channel(colour, ch);
            if (cc != dc) dc = (cc * cover + wd * dc) / r;
            out |= dc << (8 * ch);
        }
        dst[i] = out;
    }
}

}  // namespace tarn
