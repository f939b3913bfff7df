// A NormalHandleAllocator whose handles are MasterHandles with slots of one size.
#pragma once

#include "memory/NormalHandleAllocator.h"

namespace tarn::paged_allocator {

class MasterHandleAllocator final : public NormalHandleAllocator {
public:
    MasterHandleAllocator(Pager& pager, uint64_t units, uint64_t slotSize)
        : NormalHandleAllocator(pager, units), slotSize_(slotSize) {}

    int Kind() const override { return 1; }
    uint64_t SlotSize() const { return slotSize_; }

protected:
    NormalHandle* NewHandle(void* address, uint64_t fileOffset, NormalHandle::State state) override;

private:
    const uint64_t slotSize_;
};

}  // namespace tarn::paged_allocator
