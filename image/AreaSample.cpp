// One destination pixel of the area average, visiting its footprint pixel by pixel. The
// strip driver in Resample.cpp computes the same values faster; this form serves single
// pixels and images whose pixels are not one contiguous array.
#include "image/CImage32.h"
#include "image/ResampleKernels.h"

namespace tarn {

namespace resample {

uint32_t AreaSampleAt(const CImage32& source, int64_t xStep, int64_t yStep, int64_t x, int64_t y) {
    if (xStep < 0 || yStep < 0 || x < 0 || y < 0) return 0;
    const Footprint fx = MakeFootprint(xStep, x, source.Width());
    const Footprint fy = MakeFootprint(yStep, y, source.Height());
    if (fy.first > fy.last || fx.first > fx.last) return 0;

    uint64_t sumC = 0, sumV = 0, sumR = 0, sumG = 0, sumB = 0;
    const uint32_t firstAlpha = source.GetPixel(static_cast<int32_t>(fx.first), static_cast<int32_t>(fy.first)) >> 24;
    bool sameAlpha = true;
    for (int64_t i = fy.first; i <= fy.last; ++i) {
        const bool edgeRow = i == fy.first || i == fy.last;
        const uint32_t B = i == fy.first ? fy.wFirst : i == fy.last ? fy.wLast : 255;
        for (int64_t j = fx.first; j <= fx.last; ++j) {
            const uint32_t p = source.GetPixel(static_cast<int32_t>(j), static_cast<int32_t>(i));
            const uint32_t a = p >> 24;
            if (a != firstAlpha) sameAlpha = false;
            const uint32_t A = j == fx.first ? fx.wFirst : j == fx.last ? fx.wLast : 255;
            uint32_t C, v;
            if (edgeRow || j == fx.first || j == fx.last) {
                C = std::max(A * B, 255u);
                v = Div255(a * C);
            } else {
                C = 65025;
                v = a * 255;
            }
            sumC += C;
            sumV += v;
            sumR += ((p >> 16) & 255) * uint64_t{v};
            sumG += ((p >> 8) & 255) * uint64_t{v};
            sumB += (p & 255) * uint64_t{v};
        }
    }
    if (sumV == 0) return 0;
    const uint64_t alpha = sameAlpha ? firstAlpha : sumV * 255 / sumC;
    return static_cast<uint32_t>(((alpha & 255) << 24) | ((sumR / sumV & 255) << 16) |
                                 ((sumG / sumV & 255) << 8) | (sumB / sumV & 255));
}

}  // namespace resample

void CImage32::AreaSample(int32_t xStep, int32_t yStep, int32_t x, int32_t y, uint32_t* out) const {
    ScopedPixelLock lock(*this);
    *out = resample::AreaSampleAt(*this, xStep, yStep, x, y);
}

}  // namespace tarn
