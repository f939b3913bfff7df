#include <algorithm>

#include "image/CImage32.h"

namespace tarn {

bool CImage32::FillChecker(int32_t w, int32_t h, uint32_t colourA, uint32_t colourB) {
    ScopedPixelLock lock(*this);
    if (w <= 0 || h <= 0 || width <= 0 || height <= 0) return false;
    w = std::min(w, width);
    h = std::min(h, height);
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = RowAddress(y);
        if (!row) continue;
        // Cells are 8 x 8: colourB where bit 3 of x and bit 3 of y differ.
        const uint32_t rowBit = (static_cast<uint32_t>(y) >> 3) & 1;
        for (int32_t x = 0; x < w; ++x)
            row[x] = (((static_cast<uint32_t>(x) >> 3) & 1) ^ rowBit) ? colourB : colourA;
    }
    return true;
}

}  // namespace tarn
