#include "memory/NormalHandle.h"

#include "memory/CriticalSectionGuard.h"
#include "memory/NormalHandleAllocator.h"

namespace tarn {

NormalHandle::NormalHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, uint64_t size,
                           uint64_t fileOffset, State state)
    : address_(address), size_(size), fileOffset_(fileOffset), state_(state), allocator_(allocator) {
    InitializeCriticalSectionAndSpinCount(&lock_, 1024);
}

NormalHandle::~NormalHandle() { DeleteCriticalSection(&lock_); }

void* NormalHandle::Lock() {
    // Counted before the handle's lock is taken, so a page-out pass skips this handle from now
    // on instead of waiting for it.
    lockCount_.fetch_add(1, std::memory_order_acq_rel);
    try {
        CriticalSectionGuard guard(lock_);
        if (state_ == kPagedOut) allocator_->PageIn(*this);
        return address_;
    } catch (...) {
        lockCount_.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }
}

void NormalHandle::Unlock() { lockCount_.fetch_sub(1, std::memory_order_acq_rel); }

NormalHandle::State NormalHandle::CurrentState() const {
    CriticalSectionGuard guard(lock_);
    return state_;
}

uint64_t NormalHandle::FileOffset() const {
    CriticalSectionGuard guard(lock_);
    return fileOffset_;
}

}  // namespace tarn
