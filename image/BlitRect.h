// The rectangle of a blit and its clipping against the source and destination images.
#pragma once

#include <cstdint>

namespace tarn {

struct BlitRect {
    int32_t srcX;
    int32_t srcY;
    int32_t width;
    int32_t height;
    int32_t dstX;
    int32_t dstY;
};

struct ImageSize {
    int32_t width;
    int32_t height;
};

// Cuts `rect` so that it lies inside both images. Returns true, with `rect` adjusted in place,
// when at least one pixel remains; returns false, leaving `rect` unchanged, when none does.
bool ClipBlitRect(ImageSize source, ImageSize destination, BlitRect& rect);

}  // namespace tarn
