// From an open page-store document to its preview's rows: the metadata names the preview's
// size and pixel blob, and the blob's band source pushes the rows into a sink.
#pragma once

#include <cstdint>

#include "image/PreviewOutcome.h"
#include "image/PreviewSink.h"
#include "readers/pagestore/HzdDocument.h"

namespace tarn {

// Largest preview byte count (width x height x 4) accepted: the count must fit in 31 bits.
constexpr uint64_t kMaxPreviewBytes = 0x7FFFFFFF;

// Whether a stored preview of w x h can be read: no zero side, and a byte count in 31 bits.
inline bool PreviewSizeAccepted(uint32_t w, uint32_t h) {
    return w != 0 && h != 0 && uint64_t{w} * h * 4 <= kMaxPreviewBytes;
}

// Pushes the stored preview into `sink` band by band; `width` and `height` report the stored
// size. NoPreview when the metadata is unreadable (a tarn::HZDError reading it), names no
// preview, or a size PreviewSizeAccepted refuses; otherwise what the band source came to. A
// malformed pixel blob raises tarn::FException (code 2).
PreviewOutcome LoadPreview(PreviewSink& sink, HzdDocument& document, int& width, int& height);

}  // namespace tarn
