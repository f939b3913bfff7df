// The provider's end of a preview read: takes the preview's size and rows and keeps only the
// preview fitted into the requested square.
#pragma once

#include "image/BandResampler.h"
#include "image/CImage32.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"

// Scales the rows into the fitted image as they arrive, so the preview itself is never held.
// The result is what resampling the whole preview into the fitted size gives; a preview that
// already has the fitted size is copied as it is, which is the same thing.
class FittedPreview final : public tarn::PreviewSink {
public:
    explicit FittedPreview(UINT cx) : cx_(cx) {}

    // False when the fitted image or the resampler's buffers cannot be allocated.
    bool Begin(int32_t width, int32_t height) override;
    void Rows(const uint32_t* rows, int32_t count) override;
    void Discard() override;
    // No memory for the fitted image is NoMemory: a smaller picture handed out instead would
    // be kept by the host as the thumbnail. No memory for the resampler is NoPreview.
    tarn::PreviewOutcome Refusal() const override;

    // After the reader returned `outcome`: a read that left the sink without every row
    // (Undecodable, or rows missing) gets the fitted fresh 1 x 1 image that readers start
    // from. NoMemory when even that cannot be allocated; otherwise `outcome` as it came.
    tarn::PreviewOutcome Settle(tarn::PreviewOutcome outcome);

    // True when a preview was begun and every one of its rows arrived.
    bool Complete() const { return begun_ && received_ == height_; }

    // The fitted image, once Complete().
    const tarn::CImage32& Image() const { return fitted_; }

private:
    UINT cx_;
    tarn::CImage32 fitted_;
    tarn::BandResampler resampler_;
    bool begun_ = false;
    bool outOfMemory_ = false;
    int32_t height_ = 0;
    int32_t received_ = 0;
};
