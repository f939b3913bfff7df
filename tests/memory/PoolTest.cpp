// Block pools: which sizes they serve, how chunks hand out blocks, and how chunks travel between
// threads, queues and sizes. Cases that need a known pool state give their threads a private
// RegionDirectory, so earlier cases in the same process cannot disturb them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "memory/GeneralHeap.h"
#include "memory/ImageMemory.h"
#include "memory/MemoryStatistics.h"
#include "memory/PoolIntrospection.h"
#include "memory/PoolRegion.h"
#include "memory/RegionDirectory.h"

namespace tarn {
namespace {

constexpr size_t k16 = 0x4000, k64 = 0x10000, k128 = 0x20000;

uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

template <class F>
void OnNewThread(F f) {
    std::thread(f).join();
}

// Runs `f` on a new thread whose pools come from `directory`.
template <class F>
void OnThreadWith(RegionDirectory& directory, F f) {
    OnNewThread([&] {
        PoolIntrospection::UseDirectoryOnThisThread(directory);
        f();
    });
}

int64_t TotalBytes() { return Statistics().TotalBytes(); }
int64_t HeapBytes() { return Statistics().HeapBytes(); }

// Counts general-heap allocations while alive; optionally makes them fail.
class HeapProbe {
public:
    explicit HeapProbe(bool fail = false) {
        calls = 0;
        failing = fail;
        SetGeneralHeapAllocateForTesting(&Allocate);
    }
    ~HeapProbe() { SetGeneralHeapAllocateForTesting(nullptr); }
    static inline int calls = 0;

private:
    static void* Allocate(size_t bytes) {
        ++calls;
        return failing ? nullptr : std::malloc(bytes);
    }
    static inline bool failing = false;
};

TEST(BlockRouting, OnlySizesThatRoundToAPooledSizeUseThePools) {
    struct Case {
        size_t request;
        size_t blockSize;  // 0: general heap
    } const cases[] = {
        {8, 0},          {16376, 0},      {16377, k16},  {16383, k16},   {16384, k16},
        {16385, 0},      {32768, 0},      {65528, 0},    {65529, k64},   {65536, k64},
        {65537, 0},      {131064, 0},     {131065, k128}, {131072, k128}, {131073, 0},
        {262144, 0},     {2 * 1024 * 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        HeapProbe probe;
        const int64_t before = TotalBytes();
        void* p = AllocateBlock(c.request);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(TotalBytes() - before, static_cast<int64_t>((c.request + 7) & ~size_t{7}));
        EXPECT_EQ(HeapProbe::calls, c.blockSize ? 0 : 1);
        EXPECT_EQ(PoolIntrospection::Contains(RegionDirectory::Process(), p), c.blockSize != 0);
        if (c.blockSize) {
            const uintptr_t offset = Addr(p) - Addr(PoolChunk::Of(p));
            EXPECT_EQ(PoolChunk::Of(p)->BlockSize(), c.blockSize);
            EXPECT_EQ(offset % c.blockSize, 0u);
            EXPECT_NE(offset, 0u) << "block 0 holds the chunk header";
        }
        FreeBlock(p, c.request);
        EXPECT_EQ(TotalBytes(), before);
    }
}

TEST(BlockStatistics, CountRoundedSizesUntilFreedFromAnyThread) {
    const int64_t total0 = TotalBytes(), heap0 = HeapBytes();
    const size_t sizes[] = {k16, 16380, k64, k128, 100, 70001};
    std::vector<std::pair<void*, size_t>> blocks;
    int64_t expected = 0;
    for (int round = 0; round < 20; ++round)
        for (size_t s : sizes) {
            blocks.push_back({AllocateBlock(s), s});
            ASSERT_NE(blocks.back().first, nullptr);
            expected += static_cast<int64_t>((s + 7) & ~size_t{7});
        }
    EXPECT_EQ(TotalBytes() - total0, expected);
    EXPECT_EQ(HeapBytes() - heap0, expected);
    // Half go back on another thread, through the remote lists.
    const size_t half = blocks.size() / 2;
    OnNewThread([&] {
        for (size_t i = 0; i < half; ++i) FreeBlock(blocks[i].first, blocks[i].second);
    });
    for (size_t i = half; i < blocks.size(); ++i) FreeBlock(blocks[i].first, blocks[i].second);
    EXPECT_EQ(TotalBytes(), total0);
    EXPECT_EQ(HeapBytes(), heap0);
}

TEST(BlockStatistics, ARunningThreadsPoolBlocksShowAtOnceAndLeaveWhenAnotherThreadFreesThem) {
    const int64_t total0 = TotalBytes(), heap0 = HeapBytes();
    std::vector<void*> blocks;
    std::mutex mutex;
    std::condition_variable changed;
    int stage = 0;  // 1: blocks taken, 2: may end
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) blocks.push_back(AllocateBlock(k16));
        std::unique_lock<std::mutex> lock(mutex);
        stage = 1;
        changed.notify_all();
        changed.wait(lock, [&] { return stage == 2; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stage == 1; });
    }
    EXPECT_EQ(TotalBytes() - total0, 1638400);
    EXPECT_EQ(HeapBytes() - heap0, 1638400);
    // Freed here while their taker still runs: that thread's counts keep them, this one's
    // give them back, and the sum is exact.
    for (void* b : blocks) FreeBlock(b, k16);
    EXPECT_EQ(TotalBytes(), total0);
    EXPECT_EQ(HeapBytes(), heap0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        stage = 2;
        changed.notify_all();
    }
    worker.join();
    EXPECT_EQ(TotalBytes(), total0);
    EXPECT_EQ(HeapBytes(), heap0);
}

// Blocks pass from takers to freers through a queue of at most kQueued, so at any moment at
// most kQueued + 2 per pair are live. A reader on another thread must see every total within
// that range: never below the start (a free counted before its take), never above it.
TEST(BlockStatistics, ReadsDuringHandOffsBetweenThreadsStayWithinTheLiveBytes) {
    constexpr int kPairs = 2, kQueued = 8, kBlocksPerPair = 20000;
    const int64_t total0 = TotalBytes();
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    struct Queue {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<void*> blocks;
    };
    std::vector<Queue> queues(kPairs);
    for (Queue& q : queues) {
        threads.emplace_back([&q] {
            for (int i = 0; i < kBlocksPerPair; ++i) {
                void* b = AllocateBlock(k16);
                std::unique_lock<std::mutex> lock(q.mutex);
                q.changed.wait(lock, [&] { return q.blocks.size() < kQueued; });
                q.blocks.push_back(b);
                q.changed.notify_all();
            }
        });
        threads.emplace_back([&q] {
            for (int i = 0; i < kBlocksPerPair; ++i) {
                std::unique_lock<std::mutex> lock(q.mutex);
                q.changed.wait(lock, [&] { return !q.blocks.empty(); });
                void* b = q.blocks.back();
                q.blocks.pop_back();
                q.changed.notify_all();
                lock.unlock();
                FreeBlock(b, k16);
            }
        });
    }
    int64_t lowest = 0, highest = 0;
    int reads = 0;
    std::thread reader([&] {
        while (!done.load()) {
            const int64_t seen = TotalBytes() - total0;
            lowest = std::min(lowest, seen);
            highest = std::max(highest, seen);
            ++reads;
        }
    });
    for (std::thread& t : threads) t.join();
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_GE(lowest, 0);
    EXPECT_LE(highest, int64_t{kPairs} * (kQueued + 2) * int64_t{k16});
    EXPECT_EQ(TotalBytes(), total0);
}

TEST(BlockStatistics, FailedOrImpossibleAllocationsAreNeverCounted) {
    const int64_t total0 = TotalBytes(), heap0 = HeapBytes();
    {
        HeapProbe failing(/*fail=*/true);
        EXPECT_EQ(AllocateBlock(100000), nullptr);
        EXPECT_EQ(AllocateImageMemory(24), nullptr);
        EXPECT_EQ(HeapProbe::calls, 2);
        // Sizes that would wrap when rounded fail before reaching any allocator.
        EXPECT_EQ(AllocateBlock(SIZE_MAX), nullptr);
        EXPECT_EQ(AllocateBlock(SIZE_MAX - 3), nullptr);
        EXPECT_EQ(HeapProbe::calls, 2);
    }
    FreeBlock(nullptr, 100000);
    FreeImageMemory(nullptr, k16);
    EXPECT_EQ(TotalBytes(), total0);
    EXPECT_EQ(HeapBytes(), heap0);
}

TEST(PoolChunk, FormattedChunkHandsOutBlocksOneToTheLastInAddressOrder) {
    struct Case {
        size_t blockSize;
        size_t blocks;
    } const cases[] = {{k16, 127}, {k64, 31}, {k128, 15}};
    RegionDirectory directory;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blockSize);
        PoolChunk* chunk = directory.TakeChunk(c.blockSize);
        ASSERT_NE(chunk, nullptr);
        EXPECT_EQ(Addr(chunk) % kChunkSize, 0u);
        EXPECT_EQ(chunk->BlockSize(), c.blockSize);
        size_t n = 0;
        while (void* block = chunk->PopLocal()) {
            ++n;
            ASSERT_LE(n, c.blocks);
            EXPECT_EQ(Addr(block), Addr(chunk) + n * c.blockSize);
        }
        EXPECT_EQ(n, c.blocks);
        EXPECT_FALSE(chunk->HasFreeBlock());
    }
}

TEST(ThreadBlockCache, UsesEveryBlockOfAChunkBeforeTakingAnother) {
    struct Case {
        size_t blockSize;
        size_t blocks;
    } const cases[] = {{k16, 127}, {k64, 31}, {k128, 15}};
    RegionDirectory directory;
    OnThreadWith(directory, [&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.blockSize);
            std::vector<void*> blocks;
            for (size_t i = 0; i <= c.blocks; ++i) blocks.push_back(AllocateBlock(c.blockSize));
            PoolChunk* first = PoolChunk::Of(blocks[0]);
            for (size_t i = 0; i < c.blocks; ++i) EXPECT_EQ(PoolChunk::Of(blocks[i]), first) << i;
            EXPECT_NE(PoolChunk::Of(blocks[c.blocks]), first);
            std::sort(blocks.begin(), blocks.end());
            EXPECT_EQ(std::adjacent_find(blocks.begin(), blocks.end()), blocks.end()) << "a block handed out twice";
            for (void* b : blocks) FreeBlock(b, c.blockSize);
        }
    });
}

TEST(ThreadBlockCache, RemoteFreesWaitUntilTheLocalListIsEmptyThenComeBackTogether) {
    RegionDirectory directory;
    OnThreadWith(directory, [&] {
        void* b0 = AllocateBlock(k16);
        void* b1 = AllocateBlock(k16);
        PoolChunk* chunk = PoolChunk::Of(b0);
        OnNewThread([&] {
            FreeBlock(b0, k16);
            FreeBlock(b1, k16);
        });
        EXPECT_EQ(PoolIntrospection::RemoteFreeCount(chunk), 2u);
        const size_t localLeft = PoolIntrospection::LocalFreeCount(chunk);
        ASSERT_EQ(localLeft, 125u);
        std::vector<void*> held;
        for (size_t i = 0; i < localLeft; ++i) {
            held.push_back(AllocateBlock(k16));
            ASSERT_NE(held.back(), b0);
            ASSERT_NE(held.back(), b1);
        }
        EXPECT_EQ(PoolIntrospection::LocalFreeCount(chunk), 0u);
        EXPECT_EQ(PoolIntrospection::RemoteFreeCount(chunk), 2u);
        // The next take adopts the whole remote list at once, newest first.
        EXPECT_EQ(AllocateBlock(k16), b1);
        EXPECT_EQ(PoolIntrospection::RemoteFreeCount(chunk), 0u);
        EXPECT_EQ(PoolIntrospection::LocalFreeCount(chunk), 1u);
        EXPECT_EQ(AllocateBlock(k16), b0);
        EXPECT_EQ(PoolIntrospection::CurrentChunk(k16), chunk);
        void* next = AllocateBlock(k16);
        EXPECT_NE(PoolChunk::Of(next), chunk);
        held.insert(held.end(), {b0, b1, next});
        for (void* b : held) FreeBlock(b, k16);
    });
}

TEST(ThreadBlockCache, AnEndingThreadHandsItsChunksToOtherThreads) {
    RegionDirectory directory;
    void* small = nullptr;
    void* medium = nullptr;
    std::vector<void*> large;
    OnThreadWith(directory, [&] {
        small = AllocateBlock(k16);
        medium = AllocateBlock(k64);
        for (int i = 0; i < 15; ++i) large.push_back(AllocateBlock(k128));
        EXPECT_EQ(PoolChunk::Of(large.front()), PoolChunk::Of(large.back()));
    });
    PoolChunk* smallChunk = PoolChunk::Of(small);
    PoolChunk* largeChunk = PoolChunk::Of(large.front());
    PoolRegion* region = PoolRegion::Of(small);
    for (PoolChunk* c : {smallChunk, PoolChunk::Of(medium), largeChunk}) EXPECT_EQ(c->Owner(), 0u);
    using V = std::vector<PoolChunk*>;
    EXPECT_EQ(PoolIntrospection::PartialChunks(region, k16), V{smallChunk});
    EXPECT_EQ(PoolIntrospection::PartialChunks(region, k64), V{PoolChunk::Of(medium)});
    EXPECT_EQ(PoolIntrospection::FullChunks(region, k128), V{largeChunk});

    // Once the region's empty chunks are gone, requests are served from those queues.
    EXPECT_EQ(PoolIntrospection::EmptyChunks(region).size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(PoolRegion::Of(directory.TakeChunk(k64)), region);
    EXPECT_EQ(directory.TakeChunk(k16), smallChunk);
    // A full chunk comes back into use as soon as one of its blocks is freed, here remotely.
    FreeBlock(large.back(), k128);
    large.pop_back();
    EXPECT_EQ(directory.TakeChunk(k128), largeChunk);
    EXPECT_EQ(PoolIntrospection::RegionCount(directory), 1u);

    FreeBlock(small, k16);
    FreeBlock(medium, k64);
    for (void* b : large) FreeBlock(b, k128);
}

TEST(PoolRegion, OnlyAWhollyFreeUnownedChunkIsReformattedForAnotherSize) {
    struct Case {
        const char* name;
        size_t taken;           // 16 KiB blocks the ending thread takes
        size_t freedRemotely;   // of those, freed afterwards by another thread (the rest stay out)
        size_t freedByOwner;    // of those, freed by the thread itself before it ends
        bool reformatted;
    } const cases[] = {
        {"partial chunk, all freed by owner", 3, 0, 3, true},
        {"partial chunk, one still out", 3, 0, 2, false},
        {"full chunk, all freed remotely", 127, 127, 0, true},
        {"full chunk, one still out", 127, 126, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegionDirectory directory;
        std::vector<void*> blocks;
        OnThreadWith(directory, [&] {
            for (size_t i = 0; i < c.taken; ++i) blocks.push_back(AllocateBlock(k16));
            for (size_t i = 0; i < c.freedByOwner; ++i) FreeBlock(blocks[i], k16);
        });
        for (size_t i = 0; i < c.freedRemotely; ++i) FreeBlock(blocks[i], k16);
        const size_t stillOut = c.taken - c.freedByOwner - c.freedRemotely;
        PoolChunk* chunk = PoolChunk::Of(blocks[0]);
        PoolRegion* region = PoolRegion::Of(chunk);
        for (int i = 0; i < 7; ++i) directory.TakeChunk(k128);  // the region's other chunks
        PoolChunk* got = directory.TakeChunk(k64);
        EXPECT_EQ(got == chunk, c.reformatted);
        if (c.reformatted) {
            EXPECT_EQ(chunk->BlockSize(), k64);
            EXPECT_EQ(PoolIntrospection::LocalFreeCount(chunk), 31u);
            EXPECT_EQ(PoolIntrospection::RemoteFreeCount(chunk), 0u);
            EXPECT_TRUE(PoolIntrospection::PartialChunks(region, k16).empty());
            EXPECT_TRUE(PoolIntrospection::FullChunks(region, k16).empty());
        } else {
            EXPECT_EQ(chunk->BlockSize(), k16);
            EXPECT_EQ(PoolIntrospection::RegionCount(directory), 2u);
            for (size_t i = c.taken - stillOut; i < c.taken; ++i) FreeBlock(blocks[i], k16);
        }
    }
}

TEST(RegionDirectory, SkipCounterSendsTheNextRequestsToNewRegionsWithoutRescanning) {
    RegionDirectory directory;
    std::vector<PoolChunk*> chunks;
    auto regionOf = [](PoolChunk* c) { return PoolRegion::Of(c); };
    // Six regions of eight chunks, taken whole: the rescan before the sixth finds the five
    // exhausted ones empty and sets the counter to 5 / 5 = 1.
    for (int i = 0; i < 48; ++i) chunks.push_back(directory.TakeChunk(k128));
    ASSERT_EQ(PoolIntrospection::RegionCount(directory), 6u);
    EXPECT_EQ(PoolIntrospection::SkipCounter(directory), 1u);
    std::vector<PoolRegion*> regions;
    for (int r = 0; r < 6; ++r) regions.push_back(regionOf(chunks[r * 8]));
    // Each failed rescan puts the regions it asked back behind the one that ran dry first.
    EXPECT_EQ(PoolIntrospection::ExhaustedRegions(directory),
              (std::vector<PoolRegion*>{regions[4], regions[3], regions[2], regions[1], regions[0]}));

    // The first region gets a chunk back, but the counter makes the next request skip it.
    PoolChunk* returned = chunks[0];
    PoolRegion::HandBack(returned);
    PoolChunk* skipped = directory.TakeChunk(k128);
    EXPECT_EQ(PoolIntrospection::RegionCount(directory), 7u);
    EXPECT_NE(regionOf(skipped), regions[0]);
    EXPECT_EQ(PoolIntrospection::SkipCounter(directory), 0u);

    // With the counter at 0 the rescan asks the regions that were exhausted when the request
    // began, front first, and stops at the one with the chunk, which becomes available again.
    for (int i = 0; i < 7; ++i) directory.TakeChunk(k128);
    EXPECT_EQ(directory.TakeChunk(k128), returned);
    EXPECT_EQ(PoolIntrospection::RegionCount(directory), 7u);
    EXPECT_EQ(PoolIntrospection::AvailableRegions(directory), std::vector<PoolRegion*>{regions[0]});
    EXPECT_EQ(PoolIntrospection::ExhaustedRegions(directory),
              (std::vector<PoolRegion*>{regions[5], regionOf(skipped), regions[4], regions[3], regions[2], regions[1]}));
}

TEST(RegionDirectory, SkipCounterNeverExceedsItsLimit) {
    RegionDirectory directory;
    size_t highest = 0;
    while (PoolIntrospection::RegionCount(directory) < 60) {
        directory.TakeChunk(k128);
        highest = std::max(highest, PoolIntrospection::SkipCounter(directory));
    }
    EXPECT_EQ(highest, RegionDirectory::kSkipLimit);
}

}  // namespace
}  // namespace tarn
