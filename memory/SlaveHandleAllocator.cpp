#include "memory/SlaveHandleAllocator.h"

#include <atomic>
#include <ostream>
#include <stdexcept>

#include "memory/CriticalSectionGuard.h"
#include "memory/SlaveHandle.h"

namespace tarn::paged_allocator {

namespace {
std::atomic<SlaveHandleFactory> slaveFactory{nullptr};

SlaveHandle* NewSlave(MasterHandle* master, uint64_t offset) {
    SlaveHandleFactory factory = slaveFactory.load(std::memory_order_relaxed);
    return factory ? factory(master, offset) : new SlaveHandle(master, offset);
}
}  // namespace

void SetSlaveHandleFactoryForTesting(SlaveHandleFactory fn) { slaveFactory.store(fn); }

NMemHandle* SlaveHandleAllocator::Allocate(MemoryStatistics& stats, bool) {
    {
        CriticalSectionGuard guard(masters_.cs_);
        if (!live_.empty()) return TakeSlave(*live_.begin());
    }
    // Outside the lock: a new master may grow the pager file.
    auto* master = static_cast<MasterHandle*>(masters_.Allocate(stats, true));
    if (!master) return nullptr;
    CriticalSectionGuard guard(masters_.cs_);
    try {
        live_.insert(master);
    } catch (...) {
        masters_.Free(master);
        throw;
    }
    return TakeSlave(master);
}

SlaveHandle* SlaveHandleAllocator::TakeSlave(MasterHandle* master) {
    const uint64_t offset = master->TakeSlot();
    SlaveHandle* slave = nullptr;
    try {
        slave = NewSlave(master, offset);
    } catch (...) {
        // The slot goes back; a master with no other slot in use leaves the live set.
        master->ReleaseSlot(offset);
        if (master->FillState() == MasterHandle::kAllFree) {
            live_.erase(master);
            masters_.Free(master);
        }
        throw;
    }
    if (master->FillState() == MasterHandle::kFull) live_.erase(master);
    return slave;
}

void SlaveHandleAllocator::Free(NMemHandle* handle) {
    auto* slave = dynamic_cast<SlaveHandle*>(handle);
    if (!slave || slave->Master()->Allocator() != &masters_) throw std::runtime_error("Never reached here.");
    MasterHandle* master = slave->Master();
    {
        CriticalSectionGuard guard(masters_.cs_);
        const MasterHandle::Fill before = master->FillState();
        if (before == MasterHandle::kAllFree) throw std::runtime_error("Never reached here.");
        master->ReleaseSlot(slave->Offset());
        if (master->FillState() == MasterHandle::kAllFree) {
            live_.erase(master);
            masters_.Free(master);
        } else if (before == MasterHandle::kFull) {
            live_.insert(master);
        }
    }
    delete slave;
}

bool SlaveHandleAllocator::ReleaseAll(MemoryStatistics& stats) {
    const bool mastersGone = masters_.ReleaseAll(stats);
    CriticalSectionGuard guard(masters_.cs_);
    return mastersGone && live_.empty();
}

size_t SlaveHandleAllocator::LiveCount() const {
    CriticalSectionGuard guard(masters_.cs_);
    return live_.size();
}

void SlaveHandleAllocator::Dump(std::ostream& out) const {
    CriticalSectionGuard guard(masters_.cs_);
    uint64_t freeSlots = 0;
    for (const MasterHandle* m : live_) freeSlots += m->FreeSlots();
    out << "- MasterSlave\n";
    out << "  SlaveSize:" << slaveSize_ << "B\n";
    out << "  SlaveNumPerMaster: " << SlavesPerMaster() << "\n";
    out << "  Master: " << masters_.HandleSize() / 1024 << "KB\n";
    masters_.DumpCounts(out);
    out << "  LiveListLen: " << live_.size() << "\n";
    out << "  FreeTotalInLiveList: " << freeSlots * slaveSize_ << "B\n";
}

}  // namespace tarn::paged_allocator
