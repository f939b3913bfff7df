// A NormalHandle cut into equal slots, each handed out as a SlaveHandle.
#pragma once

#include <cstdint>
#include <vector>

#include "memory/NormalHandle.h"

namespace tarn {

// The slot bits are touched only under the lock of the allocator that made the master
// (the SlaveHandleAllocator's embedded MasterHandleAllocator).
class MasterHandle final : public NormalHandle {
public:
    enum Fill { kFull = 0, kPartlyUsed = 1, kAllFree = 2 };

    MasterHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, uint64_t size,
                 uint64_t fileOffset, State state, uint64_t slotSize);

    // Takes the lowest free slot and returns its byte offset.
    uint64_t TakeSlot();
    // Gives back the slot at `offset`; a slot that is not in use is a runtime error.
    void ReleaseSlot(uint64_t offset);
    Fill FillState() const;
    uint32_t FreeSlots() const;
    uint32_t SlotCount() const { return slotCount_; }
    uint64_t SlotSize() const { return slotSize_; }

private:
    const uint64_t slotSize_;
    const uint32_t slotCount_;
    std::vector<uint64_t> freeBits_;  // 1 = free
};

}  // namespace tarn
