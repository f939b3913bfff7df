#include "memory/MasterHandleAllocator.h"

#include "memory/MasterHandle.h"

namespace tarn::paged_allocator {

NormalHandle* MasterHandleAllocator::NewHandle(void* address, uint64_t fileOffset, NormalHandle::State state) {
    return new MasterHandle(this, address, HandleSize(), fileOffset, state, slotSize_);
}

}  // namespace tarn::paged_allocator
