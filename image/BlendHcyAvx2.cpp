// AVX2 rows of the four hue / chroma / luma kernels with destination alpha kept. The float
// operations are those of RgbToHcy and HcyToRgb, one for one and in the same order, with
// every branch computed and selected per lane, so the results equal the scalar kernels'.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include "image/Avx2Pixels.h"
#include "image/BlendKernels.h"
#include "image/BlendRows.h"

namespace tarn {
namespace {

using namespace avx2;

struct HcyX8 {
    __m256 hue, chroma, luma;
};

TARN_AVX2 inline __m256 Fraction(__m256i channel) { return _mm256_div_ps(_mm256_cvtepi32_ps(channel), _mm256_set1_ps(255.0f)); }

TARN_AVX2 HcyX8 RgbToHcyX8(__m256i ri, __m256i gi, __m256i bi) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 r = Fraction(ri), g = Fraction(gi), b = Fraction(bi);
    __m256 luma = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(0.3f), r), _mm256_mul_ps(_mm256_set1_ps(0.59f), g)),
                                _mm256_mul_ps(_mm256_set1_ps(0.11f), b));
    const __m256 white = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, one, _CMP_EQ_OQ), _mm256_cmp_ps(g, one, _CMP_EQ_OQ)),
                                       _mm256_cmp_ps(b, one, _CMP_EQ_OQ));
    luma = _mm256_blendv_ps(luma, one, white);  // black's computed luma is already 0

    const __m256 max = _mm256_max_ps(_mm256_max_ps(r, g), b);
    const __m256 min = _mm256_min_ps(_mm256_min_ps(r, g), b);
    const __m256 grey = _mm256_cmp_ps(max, min, _CMP_EQ_OQ);
    const __m256 chroma = _mm256_sub_ps(max, min);
    const __m256 redMax = _mm256_cmp_ps(r, max, _CMP_EQ_OQ);
    const __m256 greenMax = _mm256_cmp_ps(g, max, _CMP_EQ_OQ);
    // Red is tested first, then green, then blue.
    __m256 diff = _mm256_sub_ps(r, g);
    __m256 offset = _mm256_set1_ps(240.0f);
    diff = _mm256_blendv_ps(diff, _mm256_sub_ps(b, r), greenMax);
    offset = _mm256_blendv_ps(offset, _mm256_set1_ps(120.0f), greenMax);
    diff = _mm256_blendv_ps(diff, _mm256_sub_ps(g, b), redMax);
    const __m256 t = _mm256_div_ps(_mm256_mul_ps(diff, _mm256_set1_ps(60.0f)), chroma);
    __m256 hue = _mm256_blendv_ps(_mm256_add_ps(t, offset), t, redMax);
    hue = _mm256_blendv_ps(hue, _mm256_add_ps(hue, _mm256_set1_ps(360.0f)), _mm256_cmp_ps(hue, _mm256_setzero_ps(), _CMP_LT_OQ));
    hue = _mm256_blendv_ps(hue, _mm256_set1_ps(-1.0f), grey);
    return {hue, _mm256_andnot_ps(grey, chroma), luma};
}

// trunc(255 value) held to 0..255; NaN gives 0 (max_ps returns its second operand then).
TARN_AVX2 inline __m256i ToByteX8(__m256 value) {
    const __m256 v = _mm256_mul_ps(_mm256_set1_ps(255.0f), value);
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

struct RgbX8 {
    __m256i r, g, b;
};

// The largest, middle and smallest channel bytes of a sector, and the sector n of each lane.
struct Roles {
    __m256i largest, middle, smallest, n;
};

// One output channel: its role in sector n comes from two lane tables (all ones where the
// channel is the largest, resp. the middle one); outside the sectors black, on the grey path
// the grey byte.
TARN_AVX2 inline __m256i PickChannel(const Roles& roles, __m256i largestIn, __m256i middleIn, __m256i inSector,
                                     __m256i greyByte, __m256i greyPath) {
    const __m256i isLargest = _mm256_permutevar8x32_epi32(largestIn, roles.n);
    const __m256i isMiddle = _mm256_permutevar8x32_epi32(middleIn, roles.n);
    __m256i v = _mm256_blendv_epi8(_mm256_blendv_epi8(roles.smallest, roles.middle, isMiddle), roles.largest, isLargest);
    v = _mm256_and_si256(v, inSector);
    return _mm256_blendv_epi8(v, greyByte, greyPath);
}

TARN_AVX2 RgbX8 HcyToRgbX8(__m256 hue, __m256 chroma, __m256 luma) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    const __m256i greyByte = ToByteX8(luma);
    const __m256 greyPath =
        _mm256_or_ps(_mm256_cmp_ps(chroma, zero, _CMP_EQ_OQ), _mm256_cmp_ps(hue, _mm256_set1_ps(-1.0f), _CMP_EQ_OQ));

    const __m256 h = _mm256_div_ps(hue, _mm256_set1_ps(60.0f));
    const __m256 inSector = _mm256_and_ps(_mm256_cmp_ps(h, zero, _CMP_GE_OQ), _mm256_cmp_ps(h, _mm256_set1_ps(6.0f), _CMP_LT_OQ));
    const __m256i n = _mm256_and_si256(_mm256_cvttps_epi32(h), _mm256_set1_epi32(7));  // any index outside is discarded
    const __m256 even = _mm256_cvtepi32_ps(_mm256_and_si256(n, _mm256_set1_epi32(~1)));
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 x = _mm256_sub_ps(one, _mm256_and_ps(_mm256_sub_ps(_mm256_sub_ps(h, even), one), absMask));
    const __m256 m = _mm256_mul_ps(chroma, x);

    // Luma weights of the largest and the middle channel of sectors 0..5.
    const __m256 wMax = _mm256_permutevar8x32_ps(_mm256_setr_ps(0.3f, 0.59f, 0.59f, 0.11f, 0.11f, 0.3f, 0, 0), n);
    const __m256 wMid = _mm256_permutevar8x32_ps(_mm256_setr_ps(0.59f, 0.3f, 0.11f, 0.59f, 0.3f, 0.11f, 0, 0), n);

    __m256 smallest = _mm256_sub_ps(luma, _mm256_add_ps(_mm256_mul_ps(wMax, chroma), _mm256_mul_ps(wMid, m)));
    __m256 largest = _mm256_add_ps(smallest, chroma);
    __m256 middle = _mm256_add_ps(smallest, m);

    const __m256 dark = _mm256_cmp_ps(smallest, zero, _CMP_LT_OQ);
    const __m256 bright = _mm256_andnot_ps(dark, _mm256_cmp_ps(largest, one, _CMP_GT_OQ));
    // Too dark: keep the luma, cut the chroma so the smallest channel is 0.
    const __m256 darkLargest = _mm256_add_ps(_mm256_div_ps(smallest, _mm256_add_ps(wMax, _mm256_mul_ps(wMid, x))), chroma);
    const __m256 darkMiddle = _mm256_mul_ps(darkLargest, x);
    // Too bright: keep the luma, cut the chroma so the largest channel is 1.
    const __m256 c = _mm256_div_ps(_mm256_sub_ps(one, luma), _mm256_sub_ps(_mm256_sub_ps(one, wMax), _mm256_mul_ps(wMid, x)));
    const __m256 brightSmallest = _mm256_sub_ps(luma, _mm256_add_ps(_mm256_mul_ps(wMax, c), _mm256_mul_ps(_mm256_mul_ps(wMid, c), x)));
    const __m256 brightMiddle = _mm256_add_ps(brightSmallest, _mm256_mul_ps(c, x));
    const __m256 brightLargest = _mm256_add_ps(brightSmallest, c);

    largest = _mm256_blendv_ps(_mm256_blendv_ps(largest, brightLargest, bright), darkLargest, dark);
    middle = _mm256_blendv_ps(_mm256_blendv_ps(middle, brightMiddle, bright), darkMiddle, dark);
    smallest = _mm256_blendv_ps(_mm256_blendv_ps(smallest, brightSmallest, bright), zero, dark);

    const __m256i big = ToByteX8(largest), mid = ToByteX8(middle), small = ToByteX8(smallest);
    // Which channel is largest and which is middle, by sector (all ones where it is).
    const __m256i greyLanes = _mm256_castps_si256(greyPath), sectorLanes = _mm256_castps_si256(inSector);
    const Roles roles{big, mid, small, n};
    return {PickChannel(roles, _mm256_setr_epi32(-1, 0, 0, 0, 0, -1, 0, 0), _mm256_setr_epi32(0, -1, 0, 0, -1, 0, 0, 0),
                        sectorLanes, greyByte, greyLanes),
            PickChannel(roles, _mm256_setr_epi32(0, -1, -1, 0, 0, 0, 0, 0), _mm256_setr_epi32(-1, 0, 0, -1, 0, 0, 0, 0),
                        sectorLanes, greyByte, greyLanes),
            PickChannel(roles, _mm256_setr_epi32(0, 0, 0, -1, -1, 0, 0, 0), _mm256_setr_epi32(0, 0, -1, 0, 0, -1, 0, 0),
                        sectorLanes, greyByte, greyLanes)};
}

template <int I>
TARN_AVX2 void HcyRowAvx2(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count) {
    if (count <= 0) return;
    if (RowsOverlap(dst, src, count)) return KernelKeepAlphaRow<I, false>(params, dst, src, count);
    const __m256i alphaBits = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i c255 = _mm256_set1_epi32(255);
    const __m256i opacity = _mm256_set1_epi32(params.opacity);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if (_mm256_testz_si256(s, alphaBits)) continue;
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
        const __m256i db = ChannelX32<0>(d), dg = ChannelX32<1>(d), dr = ChannelX32<2>(d);
        const __m256i k = Div255x32(_mm256_mullo_epi16(_mm256_srli_epi32(s, 24), opacity));
        const HcyX8 hd = RgbToHcyX8(dr, dg, db);
        const HcyX8 hs = RgbToHcyX8(ChannelX32<2>(s), ChannelX32<1>(s), ChannelX32<0>(s));
        RgbX8 f;
        if constexpr (I == kHue) f = HcyToRgbX8(hs.hue, hd.chroma, hd.luma);
        else if constexpr (I == kSaturation) f = HcyToRgbX8(hd.hue, hs.chroma, hd.luma);
        else if constexpr (I == kColor) f = HcyToRgbX8(hs.hue, hs.chroma, hd.luma);
        else f = HcyToRgbX8(hd.hue, hd.chroma, hs.luma);
        // k = 0 mixes back to d and k = 255 gives F: no per-pixel branch.
        const __m256i coeff = _mm256_or_si256(k, _mm256_slli_epi32(_mm256_sub_epi32(c255, k), 16));
        __m256i out = _mm256_or_si256(_mm256_and_si256(d, alphaBits),
                                      PackX32(MixX32(f.b, db, coeff), MixX32(f.g, dg, coeff), MixX32(f.r, dr, coeff)));
        if constexpr (I == kHue) {  // a grey destination has no hue to keep
            const __m256i grey = _mm256_and_si256(_mm256_cmpeq_epi32(dr, dg), _mm256_cmpeq_epi32(dg, db));
            out = _mm256_blendv_epi8(out, d, grey);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), out);
    }
    KernelKeepAlphaRow<I, false>(params, dst + i, src + i, count - i);
}

}  // namespace

BlendRowFunction HcyKeepAlphaRowAvx2(int kernelIndex) {
    switch (kernelIndex) {
    case kHue: return HcyRowAvx2<kHue>;
    case kSaturation: return HcyRowAvx2<kSaturation>;
    case kColor: return HcyRowAvx2<kColor>;
    case kLuminosity: return HcyRowAvx2<kLuminosity>;
    default: return nullptr;
    }
}

}  // namespace tarn

#endif
