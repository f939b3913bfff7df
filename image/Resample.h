// Scaling one image into another of a different size.
#pragma once

#include <cstdint>

#include "image/CImage32.h"

namespace tarn {

// Scales `source` into `destination`, which must already have its final size. Writes the
// destination pixels (x, y) with x < min(width, destination width) and
// y < min(height, destination height) and nothing else. When the destination is a whole
// multiple of the source in both directions each pixel is point sampled, otherwise it is the
// alpha-weighted average of the source area it covers. Allocates nothing; always true.
bool Resample(CImage32& destination, const CImage32& source, int32_t width, int32_t height);

}  // namespace tarn
