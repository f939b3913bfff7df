// A pixel blob decoded whole into one block, then pushed band by band: for sound zstd frames
// whose window the streaming decoder cannot have (above the limit, or no memory for it), as
// one-shot decoding needs none.
#pragma once

#include <cstdint>

#include "image/PreviewOutcome.h"
#include "readers/pagestore/BandWriter.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

// Delivered, Undecodable (no memory for the block, a zstd error), or the writer's refusal.
tarn::PreviewOutcome PushWholeBlobBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId,
                                        BandWriter& out);

}  // namespace pagestore
