// Several threads locking, unlocking, allocating and paging out the same handles at once. A
// deadlock between the handle-then-allocator order (page-in) and the allocator-then-handle
// order (page-out) would stop the workers; the watchdog turns that into a failure.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "memory/MemoryBudget.h"
#include "memory/MemoryStatistics.h"
#include "memory/Pager.h"

using paged_test::ScopedTempDir;
using tarn::MemoryStatistics;
using tarn::NMemHandle;
using tarn::Pager;

namespace {

constexpr uint64_t kUnit = Pager::kUnit;
constexpr int kThreads = 4;
constexpr int kIterations = 5000;

struct Shared {
    NMemHandle* handle;
    uint64_t bytes;
    uint32_t tag;
};

uint32_t Word(uint32_t tag, uint64_t i) { return tag * 0x9E3779B9u + static_cast<uint32_t>(i); }

}  // namespace

TEST(PagedStress, LockUnlockAndPageOutFromSeveralThreads) {
    ScopedTempDir dir;
    MemoryStatistics stats;
    stats.defaultsPending = false;
    stats.heapThreshold = 0;
    stats.residentLimit = 6 * kUnit;  // far below what is allocated: paging on most locks
    Pager pager(stats);
    auto& normal = pager.SmallAllocator();
    auto& slaves = pager.AllocatorFor(16384);
    auto& large = pager.AllocatorFor(3 * kUnit);

    // Word 0 of each handle is its owner's counter; the other words hold a fixed pattern
    // that every thread checks.
    std::vector<Shared> shared;
    for (uint32_t i = 0; i < 24; ++i) {
        Shared s{nullptr, 0, i + 1};
        if (i % 3 == 0) {
            s.handle = normal.Allocate(stats, i % 2 == 0);  // heap- and file-backed
            s.bytes = kUnit;
        } else if (i % 3 == 1) {
            s.handle = slaves.Allocate(stats, true);
            s.bytes = 16384;
        } else {
            s.handle = large.Allocate(stats, true);
            s.bytes = 3 * kUnit;
        }
        ASSERT_NE(s.handle, nullptr);
        auto* words = static_cast<uint32_t*>(s.handle->Lock());
        words[0] = 0;
        for (uint64_t w = 1; w < s.bytes / 4; ++w) words[w] = Word(s.tag, w);
        s.handle->Unlock();
        shared.push_back(s);
    }

    std::atomic<int> finished{0};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::minstd_rand rng(1234 + t);
            std::vector<uint32_t> counts(shared.size(), 0);
            for (int it = 0; it < kIterations; ++it) {
                const uint32_t action = rng() % 16;
                if (action == 0) {
                    tarn::EnforceBudget(pager, stats);
                } else if (action == 1) {
                    normal.PageOut(stats, 2 * kUnit);
                    slaves.PageOut(stats, kUnit);
                    large.PageOut(stats, 3 * kUnit);
                } else if (action == 2) {
                    // Churn: a short-lived handle through the free list and ReleaseFree.
                    NMemHandle* h = normal.Allocate(stats, rng() % 2 == 0);
                    if (h) {
                        static_cast<uint32_t*>(h->Lock())[1] = 7;
                        h->Unlock();
                        normal.Free(h);
                    }
                    normal.ReleaseFree(stats, kUnit);
                } else {
                    const size_t i = rng() % shared.size();
                    const Shared& s = shared[i];
                    auto* words = static_cast<uint32_t*>(s.handle->Lock());
                    const uint64_t n = s.bytes / 4;
                    if (words[1] != Word(s.tag, 1) || words[n / 2] != Word(s.tag, n / 2) ||
                        words[n - 1] != Word(s.tag, n - 1))
                        mismatches.fetch_add(1);
                    // Handle i belongs to thread i % kThreads: only it writes the counter.
                    if (static_cast<int>(i % kThreads) == t) {
                        if (words[0] != counts[i]) mismatches.fetch_add(1);
                        words[0] = ++counts[i];
                    }
                    s.handle->Unlock();
                }
            }
            finished.fetch_add(1);
        });
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (finished.load() < kThreads && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (finished.load() < kThreads) {
        std::fprintf(stderr, "paged stress: workers stopped making progress (deadlock)\n");
        std::abort();
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(stats.pagedOutBytes + 0, 0);

    // The books balance: with everything freed and released, nothing is left anywhere.
    for (const Shared& s : shared) {
        if (s.bytes == kUnit)
            normal.Free(s.handle);
        else if (s.bytes == 16384)
            slaves.Free(s.handle);
        else
            large.Free(s.handle);
    }
    EXPECT_TRUE(normal.ReleaseAll(stats));
    EXPECT_TRUE(slaves.ReleaseAll(stats));
    EXPECT_TRUE(large.ReleaseAll(stats));
    EXPECT_EQ(stats.TotalBytes(), 0);
    EXPECT_EQ(stats.HeapBytes(), 0);
    EXPECT_EQ(stats.pagedOutBytes, 0);
    EXPECT_EQ(pager.MappedViews(), 0);
}
