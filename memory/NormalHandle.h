// Memory of one allocator unit size (a multiple of 64 KiB) that lives in the general heap, in a
// mapped view of the pager file, or only in the pager file.
#pragma once

#include <atomic>
#include <cstdint>

#include "memory/NMemHandle.h"
#include "platform/Platform.h"

namespace tarn {

namespace paged_allocator {
class NormalHandleAllocator;
}

// Who may touch what:
//  - lockCount_ is atomic: Lock and Unlock change it from any thread.
//  - address_, state_ and fileOffset_ change only while both this handle's lock_ and its
//    allocator's lock are held (page-in, page-out), or before the handle is published; reading
//    them needs either lock. A handle on its allocator's free list is touched under the
//    allocator's lock only, since nobody may lock a freed handle.
class NormalHandle : public NMemHandle {
public:
    enum State : int32_t { kInHeap = 0, kMapped = 1, kPagedOut = 2, kDestroyed = 3 };

    NormalHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, uint64_t size, uint64_t fileOffset,
                 State state);
    ~NormalHandle() override;

    // Maps a paged-out handle back in (enforcing the memory budget first).
    void* Lock() override;
    // Only counts: memory leaves only through the allocator's page-out pass.
    void Unlock() override;

    uint64_t Size() const { return size_; }
    int32_t LockCount() const { return lockCount_.load(std::memory_order_acquire); }
    State CurrentState() const;
    uint64_t FileOffset() const;
    paged_allocator::NormalHandleAllocator* Allocator() const { return allocator_; }

private:
    friend class paged_allocator::NormalHandleAllocator;

    void* address_;
    const uint64_t size_;
    std::atomic<int32_t> lockCount_{0};
    uint64_t fileOffset_;
    State state_;
    paged_allocator::NormalHandleAllocator* const allocator_;
    mutable CRITICAL_SECTION lock_;
};

}  // namespace tarn
