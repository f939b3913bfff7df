// The two formats kwbthumb writes: an RGBA PNG and a 32-bit BMP.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/Platform.h"

namespace kwb {

// width x height BGRA pixels (0xAARRGGBB words), rows packed, straight alpha. `bits` is the
// start of the block; in a bottom-up picture it holds the bottom row first.
struct Picture {
    int32_t width;
    int32_t height;
    const uint8_t* bits;
    bool bottomUp;
};

// 8-bit RGBA, not interlaced: what desktop thumbnail caches expect.
bool WritePng(FILE* file, const Picture& picture);

// A 32-bit bottom-up BMP with `header` as its info header, rows bottom first.
bool WriteBmp(FILE* file, const Picture& picture, const BITMAPINFOHEADER& header);

// The header a 32-bit bottom-up DIB section of the picture's size has.
BITMAPINFOHEADER BottomUpHeader(const Picture& picture);

}  // namespace kwb
