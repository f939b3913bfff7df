#include "image/PushImage.h"

#include <vector>

namespace tarn {

PreviewOutcome PushImage(PreviewSink& sink, const CImage32& image) {
    ScopedPixelLock lock(image);
    const int32_t w = image.Width(), h = image.Height();
    if (!sink.Begin(w, h)) return sink.Refusal();
    if (image.Pixels()) {
        sink.Rows(image.Pixels(), h);  // one band
        return PreviewOutcome::Delivered;
    }
    std::vector<uint32_t> row(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) row[static_cast<size_t>(x)] = image.GetPixel(x, y);
        sink.Rows(row.data(), 1);
    }
    return PreviewOutcome::Delivered;
}

}  // namespace tarn
