// Where pool blocks, chunks and regions lie. A block finds its chunk and its region by masking
// its own address, so the chunk and region sizes are powers of two and their alignments.
#pragma once

#include <cstddef>

namespace tarn {

inline constexpr size_t kChunkSize = 0x200000;    // 2 MiB, aligned to 2 MiB
inline constexpr size_t kRegionSize = 0x1000000;  // 16 MiB, aligned to 16 MiB
inline constexpr size_t kChunksPerRegion = kRegionSize / kChunkSize;

// The three block sizes the per-thread pools serve, ascending; every other size goes to the
// general heap. The index into this table is a block's size class.
inline constexpr unsigned kPooledSizeCount = 3;
inline constexpr size_t kPooledBlockSizes[kPooledSizeCount] = {0x4000, 0x10000, 0x20000};

// Requests above this cannot be rounded or counted in 64-bit signed statistics; they fail.
inline constexpr size_t kLargestImageMemoryRequest = (~size_t{0} >> 1) - 7;

constexpr size_t RoundUpTo8(size_t bytes) { return (bytes + 7) & ~size_t{7}; }

// Size class of a rounded size, or -1 when the general heap serves it.
constexpr int PooledSizeClass(size_t rounded) {
    return rounded == 0x4000 ? 0 : rounded == 0x10000 ? 1 : rounded == 0x20000 ? 2 : -1;
}

// Block 0 of every chunk holds the chunk header (and in a region's first chunk the region
// header too), so it is never handed out.
constexpr size_t BlocksPerChunk(size_t blockSize) { return kChunkSize / blockSize - 1; }

}  // namespace tarn
