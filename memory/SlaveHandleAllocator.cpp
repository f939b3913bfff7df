#include "memory/SlaveHandleAllocator.h"

#include <ostream>
#include <stdexcept>

#include "memory/CriticalSectionGuard.h"
#include "memory/SlaveHandle.h"

namespace tarn::paged_allocator {

NMemHandle* SlaveHandleAllocator::Allocate(MemoryStatistics& stats, bool) {
    {
        CriticalSectionGuard guard(masters_.cs_);
        if (!live_.empty()) {
            MasterHandle* master = *live_.begin();
            const uint64_t offset = master->TakeSlot();
            if (master->FillState() == MasterHandle::kFull) live_.erase(live_.begin());
            return new SlaveHandle(master, offset);
        }
    }
    // Outside the lock: a new master may grow the pager file.
    auto* master = static_cast<MasterHandle*>(masters_.Allocate(stats, true));
    if (!master) return nullptr;
    CriticalSectionGuard guard(masters_.cs_);
    const uint64_t offset = master->TakeSlot();
    if (master->FillState() != MasterHandle::kFull) live_.insert(master);
    return new SlaveHandle(master, offset);
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
