#include "tools/ImageFiles.h"

#include <png.h>

namespace kwb {

namespace {

size_t RowBytes(const Picture& p) { return static_cast<size_t>(p.width) * 4; }

// Row y counted from the top.
const uint8_t* Row(const Picture& p, int32_t y) {
    const int32_t stored = p.bottomUp ? p.height - 1 - y : y;
    return p.bits + static_cast<size_t>(stored) * RowBytes(p);
}

}  // namespace

bool WritePng(FILE* file, const Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_BGRA;
    // A negative stride (in components) hands libpng bottom-up rows top first.
    const png_int_32 stride = static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
    const bool ok = png_image_write_to_stdio(&image, file, 0, picture.bits, picture.bottomUp ? -stride : stride,
                                             nullptr) != 0;
    png_image_free(&image);
    return ok;
}

BITMAPINFOHEADER BottomUpHeader(const Picture& picture) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = picture.width;
    h.biHeight = picture.height;  // positive: bottom-up rows
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    return h;
}

bool WriteBmp(FILE* file, const Picture& picture, const BITMAPINFOHEADER& header) {
    const size_t bytes = RowBytes(picture) * static_cast<size_t>(picture.height);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;  // "BM"
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + bytes);
    if (std::fwrite(&fh, sizeof fh, 1, file) != 1 || std::fwrite(&header, sizeof header, 1, file) != 1) return false;
    for (int32_t y = picture.height - 1; y >= 0; --y)
        if (std::fwrite(Row(picture, y), 1, RowBytes(picture), file) != RowBytes(picture)) return false;
    return true;
}

}  // namespace kwb
