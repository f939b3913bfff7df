// The pixel blob's band source: the preview held in a coded blob, pushed into a sink band by
// band as it is decoded, so that nothing here holds the preview whole.
#pragma once

#include <cstdint>

#include "image/PreviewOutcome.h"
#include "image/PreviewSink.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

// Pushes the width x height preview held in coded blob `blobId` (coding 0xFF stored, or 3
// zstd) into `sink`: Delivered, Undecodable (another coding, no memory, a zstd error), or the
// sink's Refusal() (NoPreview, too, when there is no memory for a band). The outcome is that
// of decoding the whole blob into one block first: a zstd error anywhere (a late checksum, a
// frame that runs past the declared size, a block larger than its frame allows) discards what
// was pushed; a blob shorter than the preview gives its bytes, then zero rows; bytes beyond
// the preview are decoded (to find errors) and dropped, and stored bytes past the preview are
// read (a page that cannot be read fails the blob). Raises tarn::HZDError, with the store's
// Describe text, for a malformed blob, and lets store failures through; once Begin was
// called, Discard comes first.
tarn::PreviewOutcome PushPreviewBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId,
                                      uint32_t width, uint32_t height, tarn::PreviewSink& sink);

}  // namespace pagestore
