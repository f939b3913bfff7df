#include "image/WholeImageSink.h"

namespace tarn {

bool WholeImageSink::Begin(int32_t width, int32_t height) {
    Discard();
    // A failed resize leaves the image 1 x 1: only an image of the preview's size is written.
    if (!image_.Resize(width, height) || image_.Width() != width || image_.Height() != height) return false;
    image_.LockPixels();
    pinned_ = true;
    row_ = 0;
    return true;
}

void WholeImageSink::Rows(const uint32_t* rows, int32_t count) {
    if (!pinned_) return;
    const int32_t width = image_.Width();
    for (int32_t i = 0; i < count; ++i, ++row_, rows += width) {
        uint32_t* row = image_.RowAddress(row_);
        if (row == rows) continue;  // decoded in place
        for (int32_t x = 0; x < width; ++x)
            if (uint32_t* p = image_.PixelAddress(x, row_)) *p = rows[x];
    }
}

void WholeImageSink::Discard() {
    Unpin();
    row_ = 0;
}

bool WholeImageSink::MoveInto(CImage32& caller) {
    Unpin();
    const int32_t w = image_.Width(), h = image_.Height();
    // The caller's image decides whether it takes the size (it may be a kind that refuses);
    // the pixels then change hands without a copy.
    if (!caller.Resize(w, h) || caller.Width() != w || caller.Height() != h) return false;
    caller.Swap(image_);
    return true;
}

void WholeImageSink::Unpin() {
    if (pinned_) image_.UnlockPixels();
    pinned_ = false;
}

}  // namespace tarn
