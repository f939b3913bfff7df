// Where blocks lie when nothing has been allocated before: this program's only test.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "memory/ImageMemory.h"
#include "memory/PoolGeometry.h"

namespace tarn {
namespace {

uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

TEST(FreshProcessBlocks, FillTheFirstRegionChunkByChunkInAddressOrder) {
    std::vector<std::pair<void*, size_t>> blocks;
    auto take = [&](size_t bytes) {
        void* p = AllocateImageMemory(bytes);
        blocks.push_back({p, bytes});
        return Addr(p);
    };
    // Block 1 of chunk 0 of a new region, then block 2.
    const uintptr_t first = take(0x4000);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(first % kRegionSize, 0x4000u);
    const uintptr_t region = first - 0x4000;
    EXPECT_EQ(take(0x4000), first + 0x4000);
    for (uintptr_t i = 3; i <= 127; ++i) ASSERT_EQ(take(0x4000), region + i * 0x4000) << i;
    // Chunk 0 is used up; the next empty chunk in address order is formatted.
    EXPECT_EQ(take(0x4000), region + kChunkSize + 0x4000);
    // Each other size takes the next empty chunk, blocks again from offset S.
    EXPECT_EQ(take(0x10000), region + 2 * kChunkSize + 0x10000);
    EXPECT_EQ(take(0x20000), region + 3 * kChunkSize + 0x20000);
    EXPECT_EQ(take(0x20000 - 7), region + 3 * kChunkSize + 0x40000);
    for (auto& [p, bytes] : blocks) FreeImageMemory(p, bytes);
}

}  // namespace
}  // namespace tarn
