#include "image/BlitRect.h"

namespace tarn {

bool ClipBlitRect(ImageSize source, ImageSize destination, BlitRect& rect) {
    // 64-bit throughout: extreme origins and sizes must not overflow the sums below.
    int64_t srcX = rect.srcX, srcY = rect.srcY, width = rect.width, height = rect.height;
    int64_t dstX = rect.dstX, dstY = rect.dstY;
    const int64_t sw = source.width, sh = source.height;
    const int64_t dw = destination.width, dh = destination.height;

    if (dstX + width <= 0 || dstY + height <= 0 || dstX >= dw || dstY >= dh || srcX >= sw || srcY >= sh ||
        width + srcX < 0 || height + srcY < 0)
        return false;

    if (width + srcX >= sw) width = sw - srcX;
    if (height + srcY >= sh) height = sh - srcY;

    if (srcX < 0) { dstX -= srcX; width += srcX; srcX = 0; }
    if (srcY < 0) { dstY -= srcY; height += srcY; srcY = 0; }

    if (dstX < 0) { srcX -= dstX; width += dstX; dstX = 0; }
    if (dstY < 0) { srcY -= dstY; height += dstY; dstY = 0; }

    if (dstX + width > dw) width = dw - dstX;
    if (dstY + height > dh) height = dh - dstY;

    if (width < 1 || height < 1) return false;
    // Every value now lies inside one of the images, so it fits 32 bits again.
    rect = {static_cast<int32_t>(srcX), static_cast<int32_t>(srcY), static_cast<int32_t>(width),
            static_cast<int32_t>(height), static_cast<int32_t>(dstX), static_cast<int32_t>(dstY)};
    return true;
}

}  // namespace tarn
