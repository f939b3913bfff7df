// AVX2 rows for the most used separable kernels (destination alpha kept) and for normal
// source-over; the hue / chroma / luma kernels are in BlendHcyAvx2.cpp. Each gives the scalar formulas' results bit for bit; the scalar rows finish
// the tails and handle overlapping rows, linear light and every other mode.
#include "image/BlendRows.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#include <utility>

#include "image/Avx2Pixels.h"
#include "image/BlendKernels.h"
#include "image/BlendRowsScalar.h"

namespace tarn {
namespace {

using namespace avx2;

// ---- 16-bit lanes: four channels of four pixels per register half ----

// div255 for 0 <= t <= 65025; no intermediate leaves 16 bits.
TARN_AVX2 inline __m256i Div255x16(__m256i t) {
    const __m256i t1 = _mm256_add_epi16(t, _mm256_set1_epi16(1));
    return _mm256_srli_epi16(_mm256_add_epi16(t1, _mm256_srli_epi16(t1, 8)), 8);
}

TARN_AVX2 inline __m256i Mul255x16(__m256i a, __m256i b) { return Div255x16(_mm256_mullo_epi16(a, b)); }

// Blend value F(d, s) on every lane. Products that would pass 16 bits occur only on the
// branch a select then discards.
template <int I>
TARN_AVX2 inline __m256i BlendValueX16(__m256i d, __m256i s) {
    const __m256i c255 = _mm256_set1_epi16(255);
    if constexpr (I == kAdd || I == kLinearDodge) return _mm256_min_epu16(_mm256_add_epi16(d, s), c255);
    else if constexpr (I == kSubtract) return _mm256_subs_epu16(d, s);
    else if constexpr (I == kMultiply) return Mul255x16(s, d);
    else if constexpr (I == kOverlay) {
        const __m256i high = _mm256_sub_epi16(
            c255, Mul255x16(_mm256_sub_epi16(c255, s), _mm256_sub_epi16(_mm256_set1_epi16(511), _mm256_add_epi16(d, d))));
        const __m256i low = Mul255x16(_mm256_add_epi16(s, s), d);
        return _mm256_blendv_epi8(low, high, _mm256_cmpgt_epi16(d, _mm256_set1_epi16(127)));
    } else if constexpr (I == kScreen)
        return _mm256_sub_epi16(c255, Mul255x16(_mm256_sub_epi16(c255, d), _mm256_sub_epi16(c255, s)));
    else if constexpr (I == kLighten) return _mm256_max_epu16(d, s);
    else if constexpr (I == kDarken) return _mm256_min_epu16(d, s);
    else if constexpr (I == kDifference) return _mm256_or_si256(_mm256_subs_epu16(d, s), _mm256_subs_epu16(s, d));
    else if constexpr (I == kLinearBurn) return _mm256_subs_epu16(_mm256_add_epi16(d, s), c255);
    else if constexpr (I == kHardLight) {
        const __m256i high = _mm256_sub_epi16(
            c255, Mul255x16(_mm256_add_epi16(_mm256_sub_epi16(c255, s), _mm256_sub_epi16(c255, s)), _mm256_sub_epi16(c255, d)));
        const __m256i low = Mul255x16(_mm256_add_epi16(s, s), d);
        return _mm256_blendv_epi8(low, high, _mm256_cmpgt_epi16(s, _mm256_set1_epi16(127)));
    } else if constexpr (I == kHardMix)
        return _mm256_and_si256(_mm256_cmpgt_epi16(_mm256_add_epi16(d, s), _mm256_set1_epi16(254)), c255);
    else static_assert(I < 0, "no vector form");
}

template <int I>
constexpr bool HasVectorKeepAlpha = I == kAdd || I == kAddScaled || I == kSubtract || I == kMultiply || I == kOverlay ||
                                    I == kScreen || I == kLighten || I == kDarken || I == kDifference ||
                                    I == kLinearDodge || I == kLinearBurn || I == kHardLight || I == kHardMix;

// The opaque-destination kernel on four unpacked pixels. With k = 0 the mix returns d and
// with k = 255 it returns F, so no per-pixel branch is needed.
template <int I>
TARN_AVX2 inline __m256i OpaqueKernelX16(__m256i d, __m256i s, __m256i opacity) {
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i sa = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
    const __m256i k = Mul255x16(sa, opacity);
    __m256i out;
    if constexpr (I == kAddScaled) {
        out = _mm256_min_epu16(_mm256_add_epi16(d, Mul255x16(s, k)), c255);
    } else {
        const __m256i f = BlendValueX16<I>(d, s);
        out = Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(f, k), _mm256_mullo_epi16(d, _mm256_sub_epi16(c255, k))));
    }
    return _mm256_blend_epi16(out, d, 0x88);  // alpha lanes keep the destination's
}

template <int I>
TARN_AVX2 void KeepAlphaRowAvx2(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    if (count <= 0) return;
    if (RowsOverlap(dst, src, count)) return KernelKeepAlphaRow<I, false>(params, dst, src, count);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i alphaBits = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i opacity = _mm256_set1_epi16(params.opacity);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if (_mm256_testz_si256(s, alphaBits)) continue;  // a transparent run changes nothing
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
        const __m256i lo = OpaqueKernelX16<I>(_mm256_unpacklo_epi8(d, zero), _mm256_unpacklo_epi8(s, zero), opacity);
        const __m256i hi = OpaqueKernelX16<I>(_mm256_unpackhi_epi8(d, zero), _mm256_unpackhi_epi8(s, zero), opacity);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(lo, hi));
    }
    KernelKeepAlphaRow<I, false>(params, dst + i, src + i, count - i);
}

// (h s + wd d) / r of channel C, truncated.
template <int C>
TARN_AVX2 inline __m256i OverChannel(__m256i s, __m256i d, __m256 h, __m256 wd, __m256 r) {
    const __m256 num = _mm256_add_ps(_mm256_mul_ps(h, _mm256_cvtepi32_ps(ChannelX32<C>(s))),
                                     _mm256_mul_ps(wd, _mm256_cvtepi32_ps(ChannelX32<C>(d))));
    return _mm256_cvttps_epi32(_mm256_div_ps(num, r));
}

// Mode 28 on eight pixels. Translucent destinations need (h s + (255 - k) a d) / r: the
// numerator stays below 2^24 and r below 2^16, so both are exact in single precision and the
// correctly rounded quotient truncates to the integer quotient (its distance to the next
// integer, at least 1 / r, exceeds half a unit in the last place below 256). Opaque and
// translucent destinations take different formulas; a group computes only those it needs.
TARN_AVX2 void NormalRowAvx2(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    if (count <= 0) return;
    if (RowsOverlap(dst, src, count)) return NormalRow<false>(params, dst, src, count);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi32(255);
    const __m256i alphaBits = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i colourBits = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i opacity = _mm256_set1_epi32(params.opacity);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if (_mm256_testz_si256(s, alphaBits)) continue;
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
        const __m256i sa = _mm256_srli_epi32(s, 24);
        const __m256i a = _mm256_srli_epi32(d, 24);
        // Each product is at most 255 x 255, so the 16-bit multiply is exact.
        const __m256i h = _mm256_mullo_epi16(sa, opacity);
        const __m256i k = Div255x32(h);
        const __m256i rest = _mm256_sub_epi32(c255, k);
        const __m256i opaque = _mm256_cmpeq_epi32(a, c255);
        const int opaqueLanes = _mm256_movemask_ps(_mm256_castsi256_ps(opaque));

        __m256i out = zero;
        if (opaqueLanes != 0) {
            const __m256i coeff = _mm256_or_si256(k, _mm256_slli_epi32(rest, 16));
            out = _mm256_or_si256(alphaBits, PackX32(MixX32(ChannelX32<0>(s), ChannelX32<0>(d), coeff),
                                                     MixX32(ChannelX32<1>(s), ChannelX32<1>(d), coeff),
                                                     MixX32(ChannelX32<2>(s), ChannelX32<2>(d), coeff)));
        }
        if (opaqueLanes != 0xFF) {
            const __m256i wd = _mm256_mullo_epi16(rest, a);
            const __m256i r = _mm256_add_epi32(h, wd);  // h + a 255 - k a; 0 only where a = 0
            const __m256 rf = _mm256_cvtepi32_ps(_mm256_max_epi32(r, _mm256_set1_epi32(1)));
            const __m256 hf = _mm256_cvtepi32_ps(h);
            const __m256 wdf = _mm256_cvtepi32_ps(wd);
            const __m256i overs = _mm256_or_si256(
                _mm256_slli_epi32(Div255x32(r), 24),
                PackX32(OverChannel<0>(s, d, hf, wdf, rf), OverChannel<1>(s, d, hf, wdf, rf), OverChannel<2>(s, d, hf, wdf, rf)));
            out = opaqueLanes == 0 ? overs : _mm256_blendv_epi8(overs, out, opaque);
        }
        // Transparent destination: the source word with alpha k; transparent source: unchanged.
        const __m256i copy = _mm256_or_si256(_mm256_and_si256(s, colourBits), _mm256_slli_epi32(k, 24));
        out = _mm256_blendv_epi8(out, copy, _mm256_cmpeq_epi32(a, zero));
        out = _mm256_blendv_epi8(out, d, _mm256_cmpeq_epi32(sa, zero));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), out);
    }
    NormalRow<false>(params, dst + i, src + i, count - i);
}

template <int... I>
BlendRowFunction KeepAlphaAvx2(int index, std::integer_sequence<int, I...>) {
    BlendRowFunction fn = nullptr;
    ((index == I && HasVectorKeepAlpha<I> ? (fn = &KeepAlphaRowAvx2<(HasVectorKeepAlpha<I> ? I : kMultiply)>, 0) : 0), ...);
    return fn;
}

}  // namespace

BlendRowFunction Avx2RowFunction(int32_t mode, bool linearLight) {
    if (linearLight) return nullptr;
    if (mode == kBlendNormal) return NormalRowAvx2;
    if (mode >= kBlendKernelKeepAlphaFirst && mode <= kBlendKernelKeepAlphaLast) {
        const int index = mode - kBlendKernelKeepAlphaFirst;
        if (IsHcyKernel(index)) return HcyKeepAlphaRowAvx2(index);
        return KeepAlphaAvx2(index, std::make_integer_sequence<int, kBlendKernelCount>{});
    }
    return nullptr;
}

}  // namespace tarn

#else

namespace tarn {
BlendRowFunction Avx2RowFunction(int32_t, bool) { return nullptr; }
}  // namespace tarn

#endif
