// A stored (coding 0xFF) pixel blob pushed band by band: the content is the pixels themselves.
#pragma once

#include "image/PreviewOutcome.h"
#include "readers/pagestore/BandWriter.h"
#include "readers/pagestore/CodedBlobDecoder.h"

namespace pagestore {

// Delivered, or the writer's refusal. A blob shorter than the preview gives its bytes, then
// zero rows; bytes past the preview are read (a page that cannot be read fails the blob) but
// not copied.
tarn::PreviewOutcome PushStoredBands(CodedBlobDecoder& decoder, BandWriter& out);

}  // namespace pagestore
