// The receiving end of a stored preview: its size first, then its rows top to bottom in bands.
// A reader pushes a preview into a sink instead of handing over a finished image, so a
// consumer that only needs a scaled copy never holds the preview whole.
#pragma once

#include <cstdint>

#include "image/PreviewOutcome.h"

namespace tarn {

class PreviewSink {
public:
    virtual ~PreviewSink() = default;

    // The preview is width x height pixels, both at least 1. Called at most once per read,
    // before any rows. False when the sink cannot take a preview of that size: the reader
    // sends nothing more and its outcome is Refusal().
    virtual bool Begin(int32_t width, int32_t height) = 0;

    // The next `count` rows (count >= 1), packed: count x width pixel words 0xAARRGGBB,
    // straight alpha. Rows come in order, each exactly once; the pointer is valid only
    // during the call. Every row of the preview is delivered before the read succeeds.
    virtual void Rows(const uint32_t* rows, int32_t count) = 0;

    // Everything delivered since Begin is void: the read failed after it had started (a late
    // checksum, a read that failed half-way). The sink is back where it was before Begin.
    virtual void Discard() = 0;

    // What a read comes to after Begin returned false: NoMemory when the request must fail as
    // out of memory, NoPreview otherwise.
    virtual PreviewOutcome Refusal() const { return PreviewOutcome::NoPreview; }

    // A sink that keeps the preview whole in one block may offer it, after Begin returned true:
    // width x height words that a reader may decode straight into, handing each row to Rows
    // where it already lies. Null (the default) for sinks that take the rows as they come.
    virtual uint32_t* InPlaceDestination() { return nullptr; }
};

}  // namespace tarn
