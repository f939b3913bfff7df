#include "server/FittedPreview.h"

#include <algorithm>
#include <vector>

#include "server/ZavelThumbnailProvider.h"

bool FittedPreview::Begin(int32_t width, int32_t height) {
    Discard();
    if (width < 1 || height < 1) return false;
    const FittedSize fit = FitIntoSquare(width, height, cx_);
    if (!fitted_.Resize(fit.width, fit.height)) {
        outOfMemory_ = true;
        return false;
    }
    if (!resampler_.Begin(fitted_, width, height)) return false;
    begun_ = true;
    height_ = height;
    return true;
}

void FittedPreview::Rows(const uint32_t* rows, int32_t count) {
    if (!begun_) return;
    count = std::min(count, height_ - received_);
    if (count <= 0) return;
    resampler_.Rows(rows, count);
    received_ += count;
    // The window is given back as soon as the last row is in.
    if (received_ == height_) resampler_.End();
}

void FittedPreview::Discard() {
    resampler_.End();
    begun_ = false;
    height_ = received_ = 0;
}

void FittedPreview::FitUntouched() {
    const tarn::CImage32 fresh;
    PushImage(*this, fresh);
}

void PushImage(tarn::PreviewSink& sink, const tarn::CImage32& image) {
    tarn::ScopedPixelLock lock(image);
    const int32_t w = image.Width(), h = image.Height();
    if (!sink.Begin(w, h)) return;
    if (image.Pixels()) {
        sink.Rows(image.Pixels(), h);
        return;
    }
    std::vector<uint32_t> row(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) row[static_cast<size_t>(x)] = image.GetPixel(x, y);
        sink.Rows(row.data(), 1);
    }
}
