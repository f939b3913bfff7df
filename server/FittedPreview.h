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

    // True when a preview was begun and every one of its rows arrived.
    bool Complete() const { return begun_ && received_ == height_; }

    // Fits the preview a reader leaves untouched: a fresh 1 x 1 image, as readers get it.
    void FitUntouched();

    // Begin found no memory for the fitted image. The request must fail as out of memory: a
    // smaller picture handed out instead would be kept by the host as the thumbnail.
    bool OutOfMemory() const { return outOfMemory_; }

    // The fitted image, once Complete() (or after FitUntouched()).
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

// Pushes a whole image into a sink as one band, as a reader of small previews may.
void PushImage(tarn::PreviewSink& sink, const tarn::CImage32& image);
