#include "memory/NormalHandleAllocator.h"

#include <cstring>
#include <ostream>
#include <stdexcept>

#include "memory/CriticalSectionGuard.h"
#include "memory/GeneralHeap.h"
#include "memory/MemoryBudget.h"
#include "memory/MemoryStatistics.h"
#include "memory/Pager.h"

namespace tarn::paged_allocator {

namespace {

void Count(std::atomic<int64_t>& counter, int64_t delta) { counter.fetch_add(delta, std::memory_order_relaxed); }

// A handle whose lock count is above 0 is pinned; a negative count (more unlocks than locks)
// is treated as unlocked.
bool Pinned(const NormalHandle& h) { return h.LockCount() > 0; }

}  // namespace

NormalHandleAllocator::NormalHandleAllocator(Pager& pager, uint64_t units) : pager_(pager), units_(units) {
    InitializeCriticalSectionAndSpinCount(&cs_, 1024);
}

NormalHandleAllocator::~NormalHandleAllocator() {
    try {
        ReleaseFree(pager_.Stats(), kReleaseEverything);
    } catch (...) {
        // A corrupt free list must not escape a destructor; its memory is simply kept.
    }
    DeleteCriticalSection(&cs_);
}

NormalHandle* NormalHandleAllocator::NewHandle(void* address, uint64_t fileOffset, NormalHandle::State state) {
    return new NormalHandle(this, address, HandleSize(), fileOffset, state);
}

NMemHandle* NormalHandleAllocator::Allocate(MemoryStatistics& stats, bool fileBacked) {
    CriticalSectionGuard guard(cs_);
    if (!freeList_.empty()) {
        NormalHandle* reused = freeList_.front();
        freeList_.pop_front();
        return reused;
    }
    const int64_t size = static_cast<int64_t>(HandleSize());
    if (fileBacked) {
        Pager::Region region = pager_.TakeRegion(units_);
        NormalHandle* h = nullptr;
        try {
            h = MakeHandle(region.view, region.offset);
            resident_.insert(h);
        } catch (...) {
            delete h;
            pager_.UnmapView(region.view);
            pager_.ReturnRegion(region.offset, units_);
            throw;
        }
        Count(stats.bookedTotalBytes, size);
        return h;
    }
    void* block = GeneralHeapAlloc(static_cast<size_t>(size));
    if (!block) return nullptr;
    NormalHandle* h = nullptr;
    try {
        h = NewHandle(block, 0, NormalHandle::kInHeap);
        resident_.insert(h);
    } catch (...) {
        delete h;
        GeneralHeapFree(block);
        throw;
    }
    stats.Add(size);
    return h;
}

void NormalHandleAllocator::Free(NMemHandle* handle) {
    auto* h = dynamic_cast<NormalHandle*>(handle);
    // A handle of another allocator would corrupt both allocators' books.
    if (!h || h->allocator_ != this) throw std::runtime_error("Never reached here.");
    CriticalSectionGuard guard(cs_);
    freeList_.push_back(h);
}

uint64_t NormalHandleAllocator::ReleaseFree(MemoryStatistics& stats, uint64_t wanted) {
    if (wanted == 0) return 0;
    CriticalSectionGuard guard(cs_);
    uint64_t released = 0;
    while (!freeList_.empty() && released < wanted) {
        NormalHandle* h = freeList_.front();
        const int64_t size = static_cast<int64_t>(h->size_);
        switch (h->state_) {
        case NormalHandle::kMapped:
            pager_.UnmapView(h->address_);
            pager_.ReturnRegion(h->fileOffset_, units_);
            Count(stats.bookedTotalBytes, -size);
            resident_.erase(h);
            released += h->size_;
            break;
        case NormalHandle::kPagedOut:
            // Not resident, so it does not count toward what was wanted.
            pager_.ReturnRegion(h->fileOffset_, units_);
            Count(stats.bookedTotalBytes, -size);
            Count(stats.pagedOutBytes, -size);
            pagedOut_.erase(h);
            break;
        case NormalHandle::kInHeap:
            GeneralHeapFree(h->address_);
            stats.Subtract(size);
            resident_.erase(h);
            released += h->size_;
            break;
        default:
            throw std::runtime_error("Never reached here.");
        }
        freeList_.pop_front();
        h->state_ = NormalHandle::kDestroyed;
        delete h;
    }
    return released;
}

uint64_t NormalHandleAllocator::PageOut(MemoryStatistics& stats, uint64_t wanted) {
    if (wanted == 0) return 0;
    CriticalSectionGuard guard(cs_);
    uint64_t fromViews = 0;
    uint64_t fromHeap = 0;
    for (auto it = resident_.begin(); it != resident_.end() && fromViews + fromHeap < wanted;) {
        NormalHandle* h = *it;
        // Never wait for a handle's lock here (see the lock order above): a busy handle is
        // being locked or paged right now and is skipped.
        if (Pinned(*h) || !TryEnterCriticalSection(&h->lock_)) {
            ++it;
            continue;
        }
        bool moved = false;
        try {
            const int64_t size = static_cast<int64_t>(h->size_);
            if (!Pinned(*h) && h->state_ == NormalHandle::kMapped) {
                pager_.UnmapView(h->address_);
                h->address_ = nullptr;
                h->state_ = NormalHandle::kPagedOut;
                fromViews += h->size_;
                Count(stats.pagedOutBytes, size);
                moved = true;
            } else if (!Pinned(*h) && h->state_ == NormalHandle::kInHeap) {
                Pager::Region region = pager_.TakeRegion(units_);
                std::memcpy(region.view, h->address_, h->size_);
                pager_.UnmapView(region.view);
                GeneralHeapFree(h->address_);
                h->address_ = nullptr;
                h->fileOffset_ = region.offset;
                h->state_ = NormalHandle::kPagedOut;
                fromHeap += h->size_;
                Count(stats.bookedHeapBytes, -size);
                Count(stats.pagedOutBytes, size);
                moved = true;
            }
            // Booked at once, so an error on a later handle leaves every set consistent.
            if (moved) pagedOut_.insert(h);
        } catch (...) {
            LeaveCriticalSection(&h->lock_);
            throw;
        }
        LeaveCriticalSection(&h->lock_);
        it = moved ? resident_.erase(it) : std::next(it);
    }
    return fromViews + fromHeap;
}

bool NormalHandleAllocator::ReleaseAll(MemoryStatistics& stats) {
    ReleaseFree(stats, kReleaseEverything);
    CriticalSectionGuard guard(cs_);
    return resident_.empty() && pagedOut_.empty();
}

void NormalHandleAllocator::PageIn(NormalHandle& h) {
    MemoryStatistics& stats = pager_.Stats();
    ApplyDefaults(stats);
    EnforceBudget(pager_, stats);
    CriticalSectionGuard guard(cs_);
    void* view = pager_.MapRegion(h.fileOffset_, h.size_ & ~(Pager::kUnit - 1));
    try {
        resident_.insert(&h);
    } catch (...) {
        pager_.UnmapView(view);
        throw;
    }
    pagedOut_.erase(&h);
    h.address_ = view;
    h.state_ = NormalHandle::kMapped;
    Count(stats.pagedOutBytes, -static_cast<int64_t>(h.size_));
}

size_t NormalHandleAllocator::FreeListLength() const {
    CriticalSectionGuard guard(cs_);
    return freeList_.size();
}

size_t NormalHandleAllocator::ResidentCount() const {
    CriticalSectionGuard guard(cs_);
    return resident_.size();
}

size_t NormalHandleAllocator::PagedOutCount() const {
    CriticalSectionGuard guard(cs_);
    return pagedOut_.size();
}

void NormalHandleAllocator::DumpCounts(std::ostream& out) const {
    out << "  FreeListLen: " << freeList_.size() << "\n";
    out << "  BookedPaged: " << resident_.size() * HandleSize() / 1024 << "KB\n";
}

void NormalHandleAllocator::Dump(std::ostream& out) const {
    CriticalSectionGuard guard(cs_);
    out << "- Normal " << HandleSize() / 1024 << "KB\n";
    DumpCounts(out);
}

}  // namespace tarn::paged_allocator
