// Several threads allocate every pooled size and some heap sizes, mark each block as theirs,
// pass some blocks to other threads to free, and check every mark before a block goes back.
// A block handed out twice shows up as a claim on a block that is already claimed, or as a
// mark overwritten by another owner (and, under TSan, as a data race).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "memory/ImageMemory.h"
#include "memory/MemoryStatistics.h"

namespace tarn {
namespace {

constexpr int kThreads = 4;
constexpr int kRoundsPerThread = 150;
constexpr size_t kSizes[] = {0x4000, 0x4000 - 5, 0x10000, 0x20000, 0x20000 - 7, 0x10000, 200, 0x4001, 70000, 24000};
constexpr uint64_t kLive = uint64_t{1} << 63;

struct Block {
    uint64_t* words;
    size_t bytes;
    uint64_t tag;
};

bool IsPooled(size_t bytes) {
    const size_t rounded = (bytes + 7) & ~size_t{7};
    return rounded == 0x4000 || rounded == 0x10000 || rounded == 0x20000;
}

// The first word of a pool block is claimed atomically: a free block holds a list link or anything else without
// the live bit there, so finding the bit set means another owner holds the block right now.
bool Claim(const Block& b) {
    uint64_t previous = std::atomic_ref<uint64_t>(b.words[0]).exchange(b.tag, std::memory_order_relaxed);
    return (previous & kLive) == 0;
}

void Mark(const Block& b) {
    const size_t n = b.bytes / 8;
    for (size_t i = 512; i < n; i += 512) b.words[i] = b.tag;  // one word per 4 KiB
    b.words[n - 1] = b.tag;
}

bool MarksIntact(const Block& b) {
    const size_t n = b.bytes / 8;
    if (std::atomic_ref<uint64_t>(b.words[0]).load(std::memory_order_relaxed) != b.tag) return false;
    for (size_t i = 512; i < n; i += 512)
        if (b.words[i] != b.tag) return false;
    return b.words[n - 1] == b.tag;
}

void Release(const Block& b) {
    std::atomic_ref<uint64_t>(b.words[0]).store(0, std::memory_order_relaxed);
    FreeImageMemory(b.words, b.bytes);
}

struct Inbox {
    std::mutex mutex;
    std::vector<Block> blocks;
};

TEST(BlockPoolStress, NoBlockIsEverHeldByTwoOwners) {
    const int64_t total0 = Statistics().TotalBytes();
    Inbox inboxes[kThreads];
    std::atomic<int> doubleClaims{0}, brokenMarks{0}, failures{0};
    std::atomic<int> running{kThreads};

    auto worker = [&](int self) {
        std::mt19937_64 random(0x5eed + self);
        uint64_t serial = 0;
        std::vector<Block> held;
        auto check = [&](const Block& b) {
            if (!MarksIntact(b)) ++brokenMarks;
        };
        auto drainInbox = [&] {
            std::vector<Block> mail;
            {
                std::lock_guard<std::mutex> lock(inboxes[self].mutex);
                mail.swap(inboxes[self].blocks);
            }
            for (const Block& b : mail) {
                check(b);
                Release(b);
            }
        };
        for (int round = 0; round < kRoundsPerThread; ++round) {
            // A burst large enough to run chunks dry and make the thread change chunks.
            const size_t burst = 1 + random() % 160;
            for (size_t i = 0; i < burst; ++i) {
                const size_t bytes = kSizes[random() % std::size(kSizes)];
                void* p = AllocateImageMemory(bytes);
                if (!p) {
                    ++failures;
                    continue;
                }
                Block b{static_cast<uint64_t*>(p), bytes, kLive | (uint64_t(self) << 56) | ++serial};
                // Only pool blocks are checked: a heap block may start with an old mark.
                if (!Claim(b) && IsPooled(bytes)) ++doubleClaims;
                Mark(b);
                held.push_back(b);
            }
            std::shuffle(held.begin(), held.end(), random);
            // Keep some, pass about a third of the rest to the next thread, free the others.
            const size_t keep = held.size() / 4;
            while (held.size() > keep) {
                Block b = held.back();
                held.pop_back();
                check(b);
                if (random() % 3 == 0) {
                    std::lock_guard<std::mutex> lock(inboxes[(self + 1) % kThreads].mutex);
                    inboxes[(self + 1) % kThreads].blocks.push_back(b);
                } else {
                    Release(b);
                }
            }
            drainInbox();
        }
        for (const Block& b : held) {
            check(b);
            Release(b);
        }
        --running;
        // Stay until every thread has stopped sending, so no block is left in an inbox.
        while (running.load() > 0) {
            drainInbox();
            std::this_thread::yield();
        }
        drainInbox();
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
    for (std::thread& t : threads) t.join();
    for (Inbox& inbox : inboxes) {
        for (const Block& b : inbox.blocks) Release(b);
        inbox.blocks.clear();
    }

    EXPECT_EQ(doubleClaims.load(), 0);
    EXPECT_EQ(brokenMarks.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Statistics().TotalBytes(), total0);
    EXPECT_EQ(Statistics().HeapBytes(), Statistics().TotalBytes());
}

}  // namespace
}  // namespace tarn
