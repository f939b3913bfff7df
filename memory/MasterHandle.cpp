#include "memory/MasterHandle.h"

#include <bit>
#include <stdexcept>

namespace tarn {

MasterHandle::MasterHandle(paged_allocator::NormalHandleAllocator* allocator, void* address, uint64_t size,
                           uint64_t fileOffset, State state, uint64_t slotSize)
    : NormalHandle(allocator, address, size, fileOffset, state),
      slotSize_(slotSize),
      slotCount_(static_cast<uint32_t>(slotSize ? size / slotSize : 0)),
      freeBits_((slotCount_ + 63) / 64, ~uint64_t{0}) {
    if (slotCount_ % 64) freeBits_.back() = (uint64_t{1} << (slotCount_ % 64)) - 1;
}

uint64_t MasterHandle::TakeSlot() {
    for (size_t word = 0; word < freeBits_.size(); ++word) {
        if (!freeBits_[word]) continue;
        const unsigned bit = static_cast<unsigned>(std::countr_zero(freeBits_[word]));
        freeBits_[word] &= freeBits_[word] - 1;
        return (word * 64 + bit) * slotSize_;
    }
    throw std::runtime_error("No free slot. Never reached here.");
}

void MasterHandle::ReleaseSlot(uint64_t offset) {
    const uint64_t index = slotSize_ ? offset / slotSize_ : 0;
    if (!slotSize_ || offset % slotSize_ || index >= slotCount_) throw std::runtime_error("Never reached here.");
    uint64_t& word = freeBits_[index / 64];
    const uint64_t mask = uint64_t{1} << (index % 64);
    // A slot freed twice would later be handed to two owners at once.
    if (word & mask) throw std::runtime_error("Never reached here.");
    word |= mask;
}

uint32_t MasterHandle::FreeSlots() const {
    uint32_t n = 0;
    for (uint64_t w : freeBits_) n += static_cast<uint32_t>(std::popcount(w));
    return n;
}

MasterHandle::Fill MasterHandle::FillState() const {
    const uint32_t free = FreeSlots();
    if (free == slotCount_) return kAllFree;
    return free == 0 ? kFull : kPartlyUsed;
}

}  // namespace tarn
