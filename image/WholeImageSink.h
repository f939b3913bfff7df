// The consumer that wants the preview whole: rows go into an image of its own, which becomes
// the caller's only once the read has succeeded, so a failed read leaves the caller's image
// as it was.
#pragma once

#include <cstdint>

#include "image/CImage32.h"
#include "image/PreviewSink.h"

namespace tarn {

class WholeImageSink final : public PreviewSink {
public:
    WholeImageSink() = default;
    ~WholeImageSink() override { Unpin(); }
    WholeImageSink(const WholeImageSink&) = delete;
    WholeImageSink& operator=(const WholeImageSink&) = delete;

    // False when the image cannot be sized width x height (no memory).
    bool Begin(int32_t width, int32_t height) override;
    void Rows(const uint32_t* rows, int32_t count) override;
    void Discard() override;
    // The image's pixels when they are one block: readers decode straight into them.
    uint32_t* InPlaceDestination() override { return pinned_ ? image_.Pixels() : nullptr; }

    // After every row was delivered: `caller` takes the preview's size and pixels. False when
    // it cannot take that size; it is then left as its Resize leaves it.
    bool MoveInto(CImage32& caller);

private:
    void Unpin();

    CImage32 image_;
    bool pinned_ = false;  // the image is locked from Begin to MoveInto or Discard
    int32_t row_ = 0;
};

}  // namespace tarn
