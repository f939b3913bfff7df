// A block of the general heap behind the handle interface; it never moves.
#pragma once

#include <cstdint>

#include "memory/NMemHandle.h"

namespace tarn {

class HeapHandle final : public NMemHandle {
public:
    // Takes ownership of a block from GeneralHeapAlloc.
    HeapHandle(void* block, uint64_t size) : block_(block), size_(size) {}
    ~HeapHandle() override;

    void* Lock() override { return block_; }
    void Unlock() override {}
    bool IsPageable() const override { return false; }
    uint64_t Size() const { return size_; }

private:
    void* const block_;
    const uint64_t size_;
};

}  // namespace tarn
