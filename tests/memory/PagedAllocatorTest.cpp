// Handles and handle allocators over a private pager and private statistics.
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "memory/MasterHandle.h"
#include "memory/MemoryBudget.h"
#include "memory/MemoryStatistics.h"
#include "memory/Pager.h"
#include "memory/SlaveHandle.h"
#include "memory/SlaveHandleAllocator.h"

using paged_test::ScopedTempDir;
using tarn::MasterHandle;
using tarn::MemoryStatistics;
using tarn::NMemHandle;
using tarn::NormalHandle;
using tarn::Pager;
using tarn::SlaveHandle;
using namespace tarn::paged_allocator;

namespace {

constexpr uint64_t kUnit = Pager::kUnit;

class PagedAllocator : public ::testing::Test {
protected:
    ScopedTempDir dir;
    MemoryStatistics stats;
    Pager pager{stats};

    NormalHandle* Take(NormalHandleAllocator& a, bool fileBacked) {
        return static_cast<NormalHandle*>(a.Allocate(stats, fileBacked));
    }
    static void Stamp(NMemHandle* h, uint64_t bytes, uint32_t seed) {
        auto* words = static_cast<uint32_t*>(h->Lock());
        for (uint64_t i = 0; i < bytes / 4; ++i) words[i] = seed * 2654435761u + static_cast<uint32_t>(i);
        h->Unlock();
    }
    static bool HasStamp(NMemHandle* h, uint64_t bytes, uint32_t seed) {
        auto* words = static_cast<uint32_t*>(h->Lock());
        bool same = true;
        for (uint64_t i = 0; i < bytes / 4 && same; ++i) same = words[i] == seed * 2654435761u + static_cast<uint32_t>(i);
        h->Unlock();
        return same;
    }
};

}  // namespace

TEST_F(PagedAllocator, AllocatorChoiceBySize) {
    struct Case {
        uint64_t size;
        int kind;             // 0 normal, 2 slave
        uint64_t handleSize;  // normal: handle size; slave: master size
        uint64_t slots;       // slave only
    };
    const Case cases[] = {
        {65535, 2, 10 * kUnit, 10},   // ceil(10 x 65535 / 65536) = 10 units
        {16384, 2, kUnit, 4},         // divides 64 KiB: one-unit masters
        {8, 2, kUnit, 8192},
        {24, 2, kUnit, 2730},         // does not divide 64 KiB: ceil(240 / 65536) = 1 unit
        {200000, 2, 31 * kUnit, 10},  // ceil(2,000,000 / 65536) = 31 units
        {131072, 0, 2 * kUnit, 0},
        {589824, 0, 9 * kUnit, 0},
        {655360, 0, 10 * kUnit, 0},
        {655368, 0, 11 * kUnit, 0},  // large sizes round up to whole units
        {720896, 0, 11 * kUnit, 0},
    };
    for (const Case& c : cases) {
        HandleAllocator& a = pager.AllocatorFor(c.size);
        ASSERT_EQ(a.Kind(), c.kind) << c.size;
        EXPECT_EQ(&pager.AllocatorFor(c.size), &a) << "made twice: " << c.size;
        if (c.kind == 0) {
            EXPECT_EQ(static_cast<NormalHandleAllocator&>(a).HandleSize(), c.handleSize) << c.size;
        } else {
            auto& slave = static_cast<SlaveHandleAllocator&>(a);
            EXPECT_EQ(slave.SlaveSize(), c.size);
            EXPECT_EQ(slave.Masters().HandleSize(), c.handleSize) << c.size;
            EXPECT_EQ(slave.SlavesPerMaster(), c.slots) << c.size;
        }
    }
    // 64 KiB is the pager's own allocator, outside the size map.
    EXPECT_EQ(&pager.AllocatorFor(65536), &pager.SmallAllocator());
    EXPECT_EQ(pager.AllocatorsBySize().size(), std::size(cases));
}

TEST_F(PagedAllocator, PagedOutMemoryComesBackIntact) {
    for (bool fileBacked : {true, false}) {
        NormalHandleAllocator& a = pager.SmallAllocator();
        NormalHandle* h = Take(a, fileBacked);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->CurrentState(), fileBacked ? NormalHandle::kMapped : NormalHandle::kInHeap);
        const int64_t heapBefore = stats.HeapBytes();
        Stamp(h, kUnit, 7);

        EXPECT_EQ(a.PageOut(stats, kReleaseEverything), kUnit);
        EXPECT_EQ(h->CurrentState(), NormalHandle::kPagedOut);
        EXPECT_EQ(stats.pagedOutBytes, static_cast<int64_t>(kUnit));
        EXPECT_EQ(stats.HeapBytes(), heapBefore - (fileBacked ? 0 : static_cast<int64_t>(kUnit)));
        EXPECT_EQ(a.PagedOutCount(), 1u);

        EXPECT_TRUE(HasStamp(h, kUnit, 7)) << (fileBacked ? "file-backed" : "heap-backed");
        EXPECT_EQ(h->CurrentState(), NormalHandle::kMapped);
        EXPECT_EQ(stats.pagedOutBytes, 0);
        EXPECT_EQ(a.ResidentCount(), 1u);

        a.Free(h);
        EXPECT_TRUE(a.ReleaseAll(stats));
        EXPECT_EQ(stats.TotalBytes(), 0);
        EXPECT_EQ(stats.HeapBytes(), 0);
        EXPECT_EQ(pager.MappedViews(), 0);
    }
}

TEST_F(PagedAllocator, LockedHandleIsNeverPagedOut) {
    NormalHandleAllocator& a = pager.SmallAllocator();
    NormalHandle* pinned = Take(a, true);
    NormalHandle* heapPinned = Take(a, false);
    NormalHandle* loose = Take(a, true);
    auto* words = static_cast<uint32_t*>(pinned->Lock());
    heapPinned->Lock();
    words[0] = 0xC0FFEE;

    EXPECT_EQ(a.PageOut(stats, kReleaseEverything), kUnit);
    EXPECT_EQ(loose->CurrentState(), NormalHandle::kPagedOut);
    EXPECT_EQ(pinned->CurrentState(), NormalHandle::kMapped);
    EXPECT_EQ(heapPinned->CurrentState(), NormalHandle::kInHeap);
    EXPECT_EQ(words[0], 0xC0FFEEu);  // still mapped where it was

    // A nested lock keeps it pinned until the last unlock.
    EXPECT_EQ(pinned->Lock(), words);
    pinned->Unlock();
    EXPECT_EQ(a.PageOut(stats, kReleaseEverything), 0u);
    pinned->Unlock();
    heapPinned->Unlock();
    EXPECT_EQ(a.PageOut(stats, kReleaseEverything), 2 * kUnit);
    for (NormalHandle* h : {pinned, heapPinned, loose}) a.Free(h);
    EXPECT_TRUE(a.ReleaseAll(stats));
}

TEST_F(PagedAllocator, ReleaseFreeCountsOnlyResidentMemory) {
    NormalHandleAllocator& a = pager.SmallAllocator();
    NormalHandle* paged = Take(a, true);
    NormalHandle* mapped = Take(a, true);
    mapped->Lock();
    a.PageOut(stats, kReleaseEverything);
    mapped->Unlock();
    a.Free(paged);
    a.Free(mapped);

    EXPECT_EQ(a.ReleaseFree(stats, 0), 0u);
    EXPECT_EQ(a.FreeListLength(), 2u);

    // The paged-out handle goes without counting; the mapped one then meets the request.
    EXPECT_EQ(a.ReleaseFree(stats, 1), kUnit);
    EXPECT_EQ(a.FreeListLength(), 0u);
    EXPECT_EQ(stats.TotalBytes(), 0);
    EXPECT_EQ(stats.pagedOutBytes, 0);
    EXPECT_EQ(pager.FreeRegions(), (std::vector<std::pair<uint64_t, uint64_t>>{{0, 2}}));
}

TEST_F(PagedAllocator, FreedHandlesAreReusedOldestFirst) {
    NormalHandleAllocator& a = pager.SmallAllocator();
    NormalHandle* first = Take(a, true);
    NormalHandle* second = Take(a, false);
    a.Free(first);
    a.Free(second);
    EXPECT_EQ(Take(a, false), first);  // unchanged: still the file-backed one
    EXPECT_EQ(first->CurrentState(), NormalHandle::kMapped);
    EXPECT_EQ(Take(a, true), second);
    EXPECT_EQ(second->CurrentState(), NormalHandle::kInHeap);
    EXPECT_EQ(stats.TotalBytes(), static_cast<int64_t>(2 * kUnit));
    a.Free(first);
    a.Free(second);
    EXPECT_TRUE(a.ReleaseAll(stats));
}

TEST_F(PagedAllocator, HandleOfAnotherAllocatorIsRefused) {
    NormalHandle* h = Take(pager.SmallAllocator(), false);
    auto& other = static_cast<NormalHandleAllocator&>(pager.AllocatorFor(131072));
    EXPECT_THROW(other.Free(h), std::runtime_error);
    EXPECT_THROW(pager.FreeBySize(h, 24), std::runtime_error);  // no allocator of that size
    pager.SmallAllocator().Free(h);
}

TEST_F(PagedAllocator, SlavesFillMastersAndEmptyMastersGoBack) {
    auto& slaves = static_cast<SlaveHandleAllocator&>(pager.AllocatorFor(16384));
    std::vector<SlaveHandle*> got;
    std::vector<size_t> live;
    for (int i = 0; i < 5; ++i) {
        got.push_back(static_cast<SlaveHandle*>(slaves.Allocate(stats, false)));
        live.push_back(slaves.LiveCount());
    }
    // Four slots per master, lowest first; the fifth needs a second master.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i]->Master(), got[0]->Master());
        EXPECT_EQ(got[i]->Offset(), i * 16384u);
    }
    EXPECT_NE(got[4]->Master(), got[0]->Master());
    EXPECT_EQ(live, (std::vector<size_t>{1, 1, 1, 0, 1}));
    EXPECT_EQ(stats.TotalBytes(), static_cast<int64_t>(2 * kUnit));  // whole masters are booked

    // Slots of one master share its memory without overlap.
    for (int i = 0; i < 4; ++i) Stamp(got[i], 16384, i + 1);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(HasStamp(got[i], 16384, i + 1)) << i;

    MasterHandle* full = got[0]->Master();
    slaves.Free(got[1]);  // full -> partly used: live again
    EXPECT_EQ(slaves.LiveCount(), 2u);
    for (int i : {0, 2, 3}) slaves.Free(got[i]);  // wholly free: off the live set, onto the free list
    EXPECT_EQ(slaves.LiveCount(), 1u);
    EXPECT_EQ(slaves.Masters().FreeListLength(), 1u);
    EXPECT_EQ(full->FillState(), MasterHandle::kAllFree);

    // The next slave still comes from the live master; a master from the free list after that.
    SlaveHandle* again = static_cast<SlaveHandle*>(slaves.Allocate(stats, false));
    EXPECT_EQ(again->Master(), got[4]->Master());
    slaves.Free(again);
    slaves.Free(got[4]);
    EXPECT_TRUE(slaves.ReleaseAll(stats));
    EXPECT_EQ(stats.TotalBytes(), 0);
}

// A slot whose handle cannot be built goes back: its master keeps its fill and its place (a
// master that had no other slot in use returns to the free list), and the next request gets
// that slot.
TEST_F(PagedAllocator, SlotGoesBackWhenItsHandleCannotBeBuilt) {
    struct ThrowingFactory {
        ThrowingFactory() {
            SetSlaveHandleFactoryForTesting([](tarn::MasterHandle*, uint64_t) -> SlaveHandle* { throw std::bad_alloc(); });
        }
        ~ThrowingFactory() { SetSlaveHandleFactoryForTesting(nullptr); }
    };
    auto& slaves = static_cast<SlaveHandleAllocator&>(pager.AllocatorFor(16384));
    for (const uint64_t taken : {0u, 1u, 3u}) {  // of four slots per master
        SCOPED_TRACE(taken);
        std::vector<NMemHandle*> got;
        for (uint64_t i = 0; i < taken; ++i) got.push_back(slaves.Allocate(stats, false));
        const size_t live = slaves.LiveCount(), freeMasters = slaves.Masters().FreeListLength();
        {
            ThrowingFactory failing;
            EXPECT_THROW(slaves.Allocate(stats, false), std::bad_alloc);
        }
        EXPECT_EQ(slaves.LiveCount(), live);
        if (taken == 0) {
            EXPECT_EQ(slaves.Masters().FreeListLength(), freeMasters + 1);
        } else {
            EXPECT_EQ(static_cast<SlaveHandle*>(got[0])->Master()->FreeSlots(), 4 - taken);
        }
        auto* next = static_cast<SlaveHandle*>(slaves.Allocate(stats, false));
        EXPECT_EQ(next->Offset(), taken * 16384);
        if (taken > 0) {
            EXPECT_EQ(next->Master(), static_cast<SlaveHandle*>(got[0])->Master());
        }
        got.push_back(next);
        for (NMemHandle* h : got) slaves.Free(h);
        EXPECT_EQ(slaves.LiveCount(), 0u);
    }
    EXPECT_TRUE(slaves.ReleaseAll(stats));
    EXPECT_EQ(stats.TotalBytes(), 0);
}

TEST_F(PagedAllocator, MasterSlotsAreTakenLowestFirstAndGuarded) {
    MasterHandle master(nullptr, nullptr, 65536 * 2, 0, NormalHandle::kMapped, 1000);
    EXPECT_EQ(master.SlotCount(), 131u);
    EXPECT_EQ(master.FillState(), MasterHandle::kAllFree);
    for (uint64_t i = 0; i < 131; ++i) ASSERT_EQ(master.TakeSlot(), i * 1000);
    EXPECT_EQ(master.FillState(), MasterHandle::kFull);
    try {
        master.TakeSlot();
        FAIL() << "a full master gave a slot";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "No free slot. Never reached here.");
    }
    master.ReleaseSlot(70000);
    EXPECT_EQ(master.FillState(), MasterHandle::kPartlyUsed);
    EXPECT_EQ(master.TakeSlot(), 70000u);
    master.ReleaseSlot(5000);
    EXPECT_THROW(master.ReleaseSlot(5000), std::runtime_error);   // freed twice
    EXPECT_THROW(master.ReleaseSlot(5001), std::runtime_error);   // not a slot boundary
    EXPECT_THROW(master.ReleaseSlot(131000), std::runtime_error);  // past the last slot
}

TEST_F(PagedAllocator, DumpText) {
    NormalHandleAllocator& normal = pager.SmallAllocator();
    NormalHandle* a = Take(normal, true);
    NormalHandle* b = Take(normal, false);
    NormalHandle* c = Take(normal, true);
    c->Lock();
    normal.PageOut(stats, kReleaseEverything);  // a and the heap one leave, c stays booked
    c->Unlock();
    normal.Free(c);
    std::ostringstream out;
    normal.Dump(out);
    EXPECT_EQ(out.str(), "- Normal 64KB\n  FreeListLen: 1\n  BookedPaged: 64KB\n");

    auto& slaves = pager.AllocatorFor(16384);
    std::vector<NMemHandle*> slots;
    for (int i = 0; i < 3; ++i) slots.push_back(slaves.Allocate(stats, false));
    std::ostringstream slaveOut;
    slaves.Dump(slaveOut);
    EXPECT_EQ(slaveOut.str(),
              "- MasterSlave\n"
              "  SlaveSize:16384B\n"
              "  SlaveNumPerMaster: 4\n"
              "  Master: 64KB\n"
              "  FreeListLen: 0\n"
              "  BookedPaged: 64KB\n"
              "  LiveListLen: 1\n"
              "  FreeTotalInLiveList: 16384B\n");

    std::ostringstream all;
    pager.Dump(all);
    EXPECT_EQ(all.str(), out.str() + slaveOut.str());

    for (NMemHandle* h : slots) slaves.Free(h);
    normal.Free(a);
    normal.Free(b);
    EXPECT_TRUE(slaves.ReleaseAll(stats));
    EXPECT_TRUE(normal.ReleaseAll(stats));
}

TEST_F(PagedAllocator, BudgetReleasesFreeHandlesBeforePagingOut) {
    stats.defaultsPending = false;
    stats.residentLimit = 4 * kUnit;
    NormalHandleAllocator& a = pager.SmallAllocator();
    std::vector<NormalHandle*> held;
    for (int i = 0; i < 6; ++i) held.push_back(Take(a, true));
    a.Free(held[4]);
    a.Free(held[5]);
    held.resize(4);

    // 6 units resident, limit 4: releasing the two free ones is enough.
    tarn::EnforceBudget(pager, stats);
    EXPECT_EQ(a.FreeListLength(), 0u);
    EXPECT_EQ(stats.pagedOutBytes, 0);
    EXPECT_EQ(stats.TotalBytes(), static_cast<int64_t>(4 * kUnit));

    // 6 units again and nothing free: page out down to 80 % of the limit (3.2 units -> 3 handles).
    held.push_back(Take(a, true));
    held.push_back(Take(a, true));
    tarn::EnforceBudget(pager, stats);
    EXPECT_EQ(stats.pagedOutBytes, static_cast<int64_t>(3 * kUnit));
    EXPECT_EQ(a.PagedOutCount(), 3u);
    for (NormalHandle* h : held) a.Free(h);
    EXPECT_TRUE(a.ReleaseAll(stats));
}

TEST(PagedBudget, DefaultsApplyOnce) {
    MemoryStatistics stats;
    tarn::ApplyDefaults(stats);
    EXPECT_EQ(stats.heapThreshold, 0x60000000);
    EXPECT_EQ(stats.residentLimit, 0x140000000);
    EXPECT_FALSE(stats.defaultsPending);
    stats.residentLimit = 12345;
    tarn::ApplyDefaults(stats);
    EXPECT_EQ(stats.residentLimit, 12345);
}

TEST(PagedBudget, BytesOverBudget) {
    struct Case {
        int64_t total, pagedOut, limit;
        uint64_t expected;
    };
    const Case cases[] = {
        {100, 0, 100, 0},          // at the limit: nothing
        {101, 0, 100, 21},         // over: down to 80
        {300, 150, 100, 70},       // paged-out bytes are not resident
        {262145, 0, 262144, 52430},  // 80 % rounds down: 209715
        {5, 0, 0, 5},
    };
    for (const Case& c : cases) {
        MemoryStatistics stats;
        stats.bookedTotalBytes = c.total;
        stats.pagedOutBytes = c.pagedOut;
        stats.residentLimit = c.limit;
        EXPECT_EQ(tarn::BytesOverBudget(stats), c.expected) << c.total << " " << c.limit;
    }
}
