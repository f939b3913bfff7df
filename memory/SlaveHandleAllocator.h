// Requests smaller than 64 KiB, or not a multiple of it, as slots of shared master handles.
#pragma once

#include <cstdint>
#include <set>

#include "memory/MasterHandle.h"
#include "memory/MasterHandleAllocator.h"

namespace tarn {
class SlaveHandle;
}

namespace tarn::paged_allocator {

// Builds the handle of one slot; `new SlaveHandle` unless a test installed another.
using SlaveHandleFactory = SlaveHandle* (*)(MasterHandle* master, uint64_t offset);
// Test seam: replaces how slot handles are built, e.g. with one that throws (null restores
// `new SlaveHandle`).
void SetSlaveHandleFactoryForTesting(SlaveHandleFactory fn);

// live_ holds the masters with at least one free and one used slot; it and every master's
// slot bits are guarded by the embedded allocator's lock (masters_.cs_).
class SlaveHandleAllocator final : public HandleAllocator {
public:
    SlaveHandleAllocator(Pager& pager, uint64_t slaveSize, uint64_t masterUnits)
        : masters_(pager, masterUnits, slaveSize), slaveSize_(slaveSize) {}

    // Masters always come file-backed, whatever `fileBacked` asks.
    NMemHandle* Allocate(MemoryStatistics& stats, bool fileBacked) override;
    void Free(NMemHandle* handle) override;
    uint64_t ReleaseFree(MemoryStatistics& stats, uint64_t wanted) override {
        return masters_.ReleaseFree(stats, wanted);
    }
    uint64_t PageOut(MemoryStatistics& stats, uint64_t wanted) override { return masters_.PageOut(stats, wanted); }
    bool ReleaseAll(MemoryStatistics& stats) override;
    int Kind() const override { return 2; }
    void Dump(std::ostream& out) const override;

    uint64_t SlaveSize() const { return slaveSize_; }
    uint64_t SlavesPerMaster() const { return masters_.HandleSize() / slaveSize_; }
    size_t LiveCount() const;
    const MasterHandleAllocator& Masters() const { return masters_; }

private:
    // Takes a slot of `master`, which is in live_, and builds its handle; if that throws, the
    // slot is given back. The caller holds the lock.
    SlaveHandle* TakeSlave(MasterHandle* master);

    MasterHandleAllocator masters_;
    const uint64_t slaveSize_;
    std::set<MasterHandle*> live_;
};

}  // namespace tarn::paged_allocator
