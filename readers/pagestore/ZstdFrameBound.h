// How many bytes zstd frames can really produce, read from their block headers rather than
// taken from what a frame header claims.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagestore {

// The most bytes that decoding [src, src + size) can produce: raw and RLE blocks count their
// stated size, a compressed block its frame's block size limit, a skippable frame nothing, and
// a frame's declared content size lowers its own count further. A frame header that claims
// gigabytes over a few empty blocks therefore bounds nothing beyond those blocks.
// UINT64_MAX when the bytes are not a sequence of whole frames (zstd then reports its own
// error, and no tighter bound is known).
uint64_t ZstdOutputLimit(const uint8_t* src, size_t size);

}  // namespace pagestore
