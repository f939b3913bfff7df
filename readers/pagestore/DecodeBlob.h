// Decoding a coded blob: one coding byte, then stored bytes (0xFF) or a zstd frame (3).
#pragma once

#include <cstdint>

#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace pagestore {

// Decodes blob `blobId`. Reports its coding and declared decoded size. On true, `buffer` is a
// malloc block owned by the caller (free it) holding `bufferSize` initialised bytes: for zstd
// at most the declared size and never more than the frame can produce; bytes the frame did not
// produce are 0. False (nothing handed out) for a coding other than 0xFF and 3, a failed
// allocation, or a zstd error. A malformed blob raises tarn::HZDError whose message ends with
// the store's Describe(blobId) text; store failures pass through unchanged.
bool DecodeBlob(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, uint8_t& coding,
                uint64_t& decodedSize, uint8_t*& buffer, uint64_t& bufferSize);

}  // namespace pagestore
