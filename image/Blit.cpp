#include "image/BlendParams.h"
#include "image/BlitRect.h"
#include "image/CImage32.h"

namespace tarn {

bool CImage32::Blit(const BlendParams& params, int32_t dstX, int32_t dstY, const CImage32& source, int32_t w,
                    int32_t h) {
    ScopedPixelLock lock(*this, source);
    BlitRect rect{0, 0, w, h, dstX, dstY};
    if (!ClipBlitRect({source.width, source.height}, {width, height}, rect)) return false;
    const BlendRowFunction fn = params.RowFunction();
    const int32_t srcFromDst = rect.srcY - rect.dstY;
    for (int32_t y = rect.dstY; y < rect.dstY + rect.height; ++y) {
        uint32_t* dstRow = RowAddress(y);
        const uint32_t* srcRow = source.RowAddress(y + srcFromDst);
        if (dstRow && srcRow) fn(params, dstRow + rect.dstX, srcRow + rect.srcX, rect.width);
    }
    return true;
}

}  // namespace tarn
