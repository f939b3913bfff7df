// Decoding a preview's pixel blob band by band: stored bytes page by page, zstd frames through
// ZSTD_decompressStream, compressed bytes fed straight from the blob's pages. Rows go to a
// tarn::PreviewSink as they complete, so nothing here holds the preview whole.
#pragma once

#include <cstdint>

#include "image/PreviewSink.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

// A sink that keeps the whole preview in one block: rows are decoded straight into it and
// handed to Rows in place.
class WholePreviewSink : public tarn::PreviewSink {
public:
    // After Begin returned true: the preview's width x height words, or null (then the sink is
    // fed like any other).
    virtual uint32_t* Destination() = 0;
};

enum class PreviewPush {
    Undecodable,  // unknown coding, no memory, a zstd error: no rows stand (Discard was called)
    Refused,      // the sink refused Begin
    Delivered,    // every row delivered
};

// Pushes the width x height preview held in coded blob `blobId` (coding 0xFF stored or 3 zstd)
// into `sink`. The outcome is that of decoding the whole blob into one block first: a zstd
// error anywhere (a late checksum, a frame that runs past the declared size, a block larger
// than its frame allows) discards what was pushed; a blob shorter than the preview gives its
// bytes, then zero rows; bytes beyond the preview are decoded (to find errors) and dropped,
// and stored bytes past the preview are read (a page that cannot be read fails the blob).
// Raises tarn::HZDError, with the store's Describe text, for a malformed blob, and lets store
// failures through; once Begin was called, Discard comes first.
PreviewPush PushPreviewBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, uint32_t width,
                             uint32_t height, tarn::PreviewSink& sink);

// zstd's window limit for a blob declaring `declaredSize` decoded bytes: the declared size
// rounded up to a power of two, at least 2^10 and at most ZSTD_WINDOWLOG_MAX (2^31, or 2^30
// in a 32-bit build). A frame declaring a larger window (one-shot decoding ignores windows) is
// decoded whole instead.
int ZstdWindowLogFor(uint64_t declaredSize);

}  // namespace pagestore
