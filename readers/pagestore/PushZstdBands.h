// A zstd (coding 3) pixel blob pushed band by band through ZSTD_decompressStream, the
// compressed bytes fed straight from the blob's pages.
#pragma once

#include <cstdint>
#include <optional>

#include "image/PreviewOutcome.h"
#include "readers/pagestore/BandWriter.h"
#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

// Delivered, Undecodable (no context, a zstd error, a byte past the declared size, the blob
// ending inside a frame, a frame that ends short of or runs past its stated size, a block
// larger than its frame allows: what was pushed is discarded), or the writer's refusal.
// Nothing (nullopt, the pushed rows discarded, the rest of the blob unread) when a frame
// needs a window the streaming decoder cannot have (above the limit, or no memory for it):
// the whole blob must then be decoded at once, which needs no window.
std::optional<tarn::PreviewOutcome> PushZstdBands(CodedBlobDecoder& decoder, ZstdContextPool& pool, BandWriter& out);

// zstd's window limit for a blob declaring `declaredSize` decoded bytes: the declared size
// rounded up to a power of two, at least 2^10 and at most ZSTD_WINDOWLOG_MAX (2^31, or 2^30
// in a 32-bit build). A frame declaring a larger window (one-shot decoding ignores windows) is
// decoded whole instead.
int ZstdWindowLogFor(uint64_t declaredSize);

}  // namespace pagestore
