// One slot of a MasterHandle. Locking a slave locks its master, so a master stays resident
// while any of its slots is locked.
#pragma once

#include <cstdint>

#include "memory/MasterHandle.h"

namespace tarn {

class SlaveHandle final : public NMemHandle {
public:
    SlaveHandle(MasterHandle* master, uint64_t offset) : master_(master), offset_(offset) {}

    void* Lock() override { return static_cast<char*>(master_->Lock()) + offset_; }
    void Unlock() override { master_->Unlock(); }

    MasterHandle* Master() const { return master_; }
    uint64_t Offset() const { return offset_; }

private:
    MasterHandle* const master_;
    const uint64_t offset_;
};

}  // namespace tarn
