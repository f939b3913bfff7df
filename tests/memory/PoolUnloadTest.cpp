// Giving every pool region and record back when the module is unloaded while the process goes
// on. The process-wide pools are torn down here, so these cases have a process of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "memory/ImageMemory.h"
#include "memory/MemoryStatistics.h"
#include "memory/PoolGeometry.h"
#include "memory/PoolIntrospection.h"
#include "memory/RegionDirectory.h"
#include "platform/Platform.h"

namespace tarn {
namespace {

constexpr size_t k16 = 0x4000, k64 = 0x10000, k128 = 0x20000;

uintptr_t RegionBase(const void* p) { return reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kRegionSize - 1}; }

// A thread that runs `work`, then waits until told to end.
class ParkedThread {
public:
    template <class F>
    explicit ParkedThread(F work)
        : thread([this, work] {
              work();
              std::unique_lock<std::mutex> lock(mutex);
              parked = true;
              changed.notify_all();
              changed.wait(lock, [&] { return mayEnd; });
          }) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return parked; });
    }
    void End() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            mayEnd = true;
            changed.notify_all();
        }
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool parked = false, mayEnd = false;
    std::thread thread;
};

TEST(ReleaseOnUnload, KeepsEverythingWhileAPoolBlockIsLive) {
    void* block = AllocateBlock(k64);
    ASSERT_NE(block, nullptr);
    const size_t regions = PoolIntrospection::RegionCount(RegionDirectory::Process());
    const size_t records = PoolIntrospection::ThreadRecordCount();

    EXPECT_FALSE(ReleaseImageMemoryOnUnload());
    EXPECT_EQ(PoolIntrospection::RegionCount(RegionDirectory::Process()), regions);
    EXPECT_EQ(PoolIntrospection::ThreadRecordCount(), records);
    EXPECT_TRUE(PoolIntrospection::HasThreadExitSlot());
    EXPECT_TRUE(PoolIntrospection::Contains(RegionDirectory::Process(), block));
    static_cast<char*>(block)[k64 - 1] = 1;  // still mapped
    FreeBlock(block, k64);
}

TEST(ReleaseOnUnload, ReturnsEveryRegionAndRecordAndALaterLoadStartsClean) {
    const int64_t total0 = Statistics().TotalBytes();
    std::vector<uintptr_t> bases;
    auto note = [&](const void* p) {
        if (std::find(bases.begin(), bases.end(), RegionBase(p)) == bases.end()) bases.push_back(RegionBase(p));
    };

    // This thread's chunks of every size, one full region, and blocks freed by a thread other
    // than their taker.
    std::vector<std::pair<void*, size_t>> mine;
    for (size_t size : {k16, k64, k128})
        for (int i = 0; i < 40; ++i) mine.push_back({AllocateBlock(size), size});
    for (auto [p, size] : mine) note(p);
    std::thread([&] {
        for (auto [p, size] : mine) FreeBlock(p, size);
    }).join();
    // A thread that ended, and one still running that holds chunks but no block.
    std::thread([&] {
        void* p = AllocateBlock(k128);
        note(p);
        FreeBlock(p, k128);
    }).join();
    std::mutex noteMutex;
    ParkedThread holder([&] {
        void* p = AllocateBlock(k16);
        {
            std::lock_guard<std::mutex> lock(noteMutex);
            note(p);
        }
        FreeBlock(p, k16);
    });
    // A general-heap block does not keep the pools.
    void* heapBlock = AllocateBlock(100000);
    ASSERT_NE(heapBlock, nullptr);
    EXPECT_GE(PoolIntrospection::ThreadRecordCount(), 2u);

    ASSERT_TRUE(ReleaseImageMemoryOnUnload());
    EXPECT_EQ(PoolIntrospection::ThreadRecordCount(), 0u);
    EXPECT_FALSE(PoolIntrospection::HasThreadExitSlot());
    // Each region went back through the platform layer: a second release of it is refused.
    for (uintptr_t base : bases) EXPECT_FALSE(VirtualFree(reinterpret_cast<void*>(base), 0, MEM_RELEASE));
    EXPECT_EQ(Statistics().TotalBytes() - total0, 100000);
    // The holder's record is gone and its exit slot freed: ending it must call nothing.
    holder.End();
    FreeBlock(heapBlock, 100000);
    EXPECT_EQ(Statistics().TotalBytes(), total0);

    // A later load: a new directory whose first block lies where a fresh process puts it.
    RegionDirectory& directory = RegionDirectory::Process();
    EXPECT_EQ(PoolIntrospection::RegionCount(directory), 0u);
    void* first = AllocateBlock(k16);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) - RegionBase(first), k16);
    EXPECT_EQ(PoolIntrospection::RegionCount(directory), 1u);
    EXPECT_TRUE(PoolIntrospection::HasThreadExitSlot());
    EXPECT_EQ(Statistics().TotalBytes() - total0, static_cast<int64_t>(k16));
    // Thread exit works again: an ending thread's chunk goes back to the region's queues.
    std::thread([] { FreeBlock(AllocateBlock(k128), k128); }).join();
    EXPECT_EQ(PoolIntrospection::ThreadRecordCount(), 1u);
    PoolRegion* region = PoolRegion::Of(first);
    EXPECT_EQ(PoolIntrospection::PartialChunks(region, k128).size(), 1u);
    FreeBlock(first, k16);

    EXPECT_TRUE(ReleaseImageMemoryOnUnload());
    EXPECT_EQ(PoolIntrospection::ThreadRecordCount(), 0u);
    EXPECT_EQ(Statistics().TotalBytes(), total0);
}

}  // namespace
}  // namespace tarn
