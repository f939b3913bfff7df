// One destination pixel of the area average, visiting its footprint pixel by pixel. The
// strip driver in Resample.cpp computes the same values faster; this form serves single
// pixels and images whose pixels are not one contiguous array.
#include <array>

#include "image/CImage32.h"
#include "image/ResampleKernels.h"

namespace tarn {

namespace resample {

namespace {

// Total weight of a footprint, the pixels outside the source included: the sum of
// C = max(A * B, 255) over its rows and columns, which fall in three groups of one weight
// each (first, inner, last).
uint64_t FootprintWeight(const Footprint& fx, const Footprint& fy) {
    struct Group {
        uint64_t count, weight;
    };
    const auto groups = [](const Footprint& f) {
        const bool single = f.first == f.last;
        return std::array<Group, 3>{Group{1, static_cast<uint64_t>(f.wFirst)},
                                    Group{single ? 0 : static_cast<uint64_t>(f.last - f.first - 1), 255},
                                    Group{single ? 0u : 1u, static_cast<uint64_t>(f.wLast)}};
    };
    uint64_t sum = 0;
    for (const Group& row : groups(fy))
        for (const Group& column : groups(fx))
            sum += row.count * column.count * std::max<uint64_t>(row.weight * column.weight, 255);
    return sum;
}

}  // namespace

uint32_t AreaSampleAt(const CImage32& source, int64_t xStep, int64_t yStep, int64_t x, int64_t y) {
    // Only a negative step leaves the weights without meaning.
    if (xStep < 0 || yStep < 0) return 0;
    const Footprint fx = MakeFootprint(xStep, x, source.Width());
    const Footprint fy = MakeFootprint(yStep, y, source.Height());
    if (fy.first > fy.last || fx.first > fx.last) return 0;

    // A footprint may start left of or above the source (never past its end: MakeFootprint
    // clamps that). The pixels outside read as 0: they weigh in the alpha through
    // FootprintWeight but add no colour, so only the part inside is visited.
    const bool whollyInside = fx.first >= 0 && fy.first >= 0;
    uint64_t sumV = 0, sumR = 0, sumG = 0, sumB = 0;
    const uint32_t firstAlpha =
        whollyInside ? source.GetPixel(static_cast<int32_t>(fx.first), static_cast<int32_t>(fy.first)) >> 24 : 0;
    bool sameAlpha = true;
    for (int64_t i = std::max<int64_t>(fy.first, 0); i <= fy.last; ++i) {
        const bool edgeRow = i == fy.first || i == fy.last;
        const uint32_t B = i == fy.first ? fy.wFirst : i == fy.last ? fy.wLast : 255;
        for (int64_t j = std::max<int64_t>(fx.first, 0); j <= fx.last; ++j) {
            const uint32_t p = source.GetPixel(static_cast<int32_t>(j), static_cast<int32_t>(i));
            const uint32_t a = p >> 24;
            if (a != firstAlpha) sameAlpha = false;
            const uint32_t A = j == fx.first ? fx.wFirst : j == fx.last ? fx.wLast : 255;
            const uint32_t v = edgeRow || j == fx.first || j == fx.last ? Div255(a * std::max(A * B, 255u)) : a * 255;
            sumV += v;
            sumR += ((p >> 16) & 255) * uint64_t{v};
            sumG += ((p >> 8) & 255) * uint64_t{v};
            sumB += (p & 255) * uint64_t{v};
        }
    }
    // With pixels outside (alpha 0), sumV > 0 means the alphas differ.
    if (sumV == 0) return 0;
    const uint64_t alpha = sameAlpha && whollyInside ? firstAlpha : sumV * 255 / FootprintWeight(fx, fy);
    return static_cast<uint32_t>(((alpha & 255) << 24) | ((sumR / sumV & 255) << 16) |
                                 ((sumG / sumV & 255) << 8) | (sumB / sumV & 255));
}

}  // namespace resample

void CImage32::AreaSample(int32_t xStep, int32_t yStep, int32_t x, int32_t y, uint32_t* out) const {
    ScopedPixelLock lock(*this);
    *out = resample::AreaSampleAt(*this, xStep, yStep, x, y);
}

}  // namespace tarn
