#include "image/CImageBase.h"

#include <cmath>

namespace tarn {

namespace {
// True while at most one bit of v is set.
bool AtMostOneBit(uint32_t v) { return (v & (v - 1)) == 0; }
}  // namespace

void CImageBase::SetGeometry(int32_t w, int32_t h, double bytesPerPixel) {
    width = w;
    height = h;
    // Kept to its low 32 bits: converting an out-of-range double straight to int32 is undefined.
    stride = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(std::ceil(w * bytesPerPixel))));
    powerOfTwo = AtMostOneBit(static_cast<uint32_t>(w)) && AtMostOneBit(static_cast<uint32_t>(h));
}

}  // namespace tarn
