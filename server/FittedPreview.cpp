#include "server/FittedPreview.h"

#include <algorithm>

#include "image/PushImage.h"
#include "server/FitIntoSquare.h"

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

tarn::PreviewOutcome FittedPreview::Refusal() const {
    return outOfMemory_ ? tarn::PreviewOutcome::NoMemory : tarn::PreviewOutcome::NoPreview;
}

tarn::PreviewOutcome FittedPreview::Settle(tarn::PreviewOutcome outcome) {
    using tarn::PreviewOutcome;
    if (outcome != PreviewOutcome::Delivered && outcome != PreviewOutcome::Undecodable) return outcome;
    if (!Complete()) {
        const tarn::CImage32 fresh;
        tarn::PushImage(*this, fresh);
    }
    return Complete() ? outcome : PreviewOutcome::NoMemory;
}
