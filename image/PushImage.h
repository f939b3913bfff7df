// A whole image handed to a sink as a preview, as a reader of small previews may.
#pragma once

#include "image/CImage32.h"
#include "image/PreviewSink.h"

namespace tarn {

// Delivered after every row; the sink's Refusal() when it refuses Begin.
PreviewOutcome PushImage(PreviewSink& sink, const CImage32& image);

}  // namespace tarn
