// Handles of one size (unit count x 64 KiB), heap- or file-backed, with a free list for reuse.
#pragma once

#include <cstdint>
#include <deque>
#include <set>

#include "memory/HandleAllocator.h"
#include "memory/NormalHandle.h"
#include "platform/Platform.h"

namespace tarn {
class Pager;
}

namespace tarn::paged_allocator {

// Who may touch what: resident_, pagedOut_ and freeList_ only under cs_.
//
// Lock order. Two paths take both an allocator's lock and a handle's lock:
//  - NormalHandle::Lock holds the handle's lock, runs the budget passes (which take allocator
//    locks) and then takes this lock to map the handle back in;
//  - PageOut holds this lock and needs the lock of each handle it writes out.
// PageOut only try-enters a handle's lock and skips the handle when it is busy, so no thread
// ever waits for a handle's lock while holding an allocator's lock. Waits therefore run one
// way only (handle -> allocator -> pager), and the two paths cannot deadlock.
class NormalHandleAllocator : public HandleAllocator {
public:
    NormalHandleAllocator(Pager& pager, uint64_t units);
    // Releases the free-listed handles; handles still in use are not touched.
    ~NormalHandleAllocator() override;

    NMemHandle* Allocate(MemoryStatistics& stats, bool fileBacked) override;
    void Free(NMemHandle* handle) override;
    uint64_t ReleaseFree(MemoryStatistics& stats, uint64_t wanted) override;
    uint64_t PageOut(MemoryStatistics& stats, uint64_t wanted) override;
    bool ReleaseAll(MemoryStatistics& stats) override;
    int Kind() const override { return 0; }
    void Dump(std::ostream& out) const override;

    // A new handle over a freshly mapped region of the pager file.
    NormalHandle* MakeHandle(void* address, uint64_t fileOffset) {
        return NewHandle(address, fileOffset, NormalHandle::kMapped);
    }

    uint64_t Units() const { return units_; }
    uint64_t HandleSize() const { return units_ * 0x10000; }
    size_t FreeListLength() const;
    size_t ResidentCount() const;
    size_t PagedOutCount() const;

protected:
    friend class tarn::NormalHandle;
    friend class SlaveHandleAllocator;

    virtual NormalHandle* NewHandle(void* address, uint64_t fileOffset, NormalHandle::State state);
    // Maps a paged-out handle back in. The caller holds the handle's lock and has counted its lock.
    void PageIn(NormalHandle& handle);
    // The free-list and booking lines of Dump; the caller holds cs_.
    void DumpCounts(std::ostream& out) const;

    Pager& pager_;
    const uint64_t units_;
    mutable CRITICAL_SECTION cs_;
    std::set<NormalHandle*> resident_;  // states 0 and 1, by address
    std::set<NormalHandle*> pagedOut_;  // state 2, by address
    std::deque<NormalHandle*> freeList_;
};

}  // namespace tarn::paged_allocator
