// The allocators behind handle-backed image memory: each serves one request size.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace tarn {
class NMemHandle;
struct MemoryStatistics;
}  // namespace tarn

namespace tarn::paged_allocator {

class HandleAllocator {
public:
    virtual ~HandleAllocator() = default;
    // File-backed memory starts mapped from the pager file; heap-backed memory starts in the
    // general heap. Returns null when the heap is exhausted.
    virtual NMemHandle* Allocate(MemoryStatistics& stats, bool fileBacked) = 0;
    // Keeps the memory on a free list for reuse; ReleaseFree gives it back.
    virtual void Free(NMemHandle* handle) = 0;
    // Destroys free-listed handles, oldest first, until `wanted` resident bytes are released.
    virtual uint64_t ReleaseFree(MemoryStatistics& stats, uint64_t wanted) = 0;
    // Writes unlocked resident handles to the pager file until `wanted` bytes have left memory.
    virtual uint64_t PageOut(MemoryStatistics& stats, uint64_t wanted) = 0;
    // Releases every free-listed handle; true when no handle is left.
    virtual bool ReleaseAll(MemoryStatistics& stats) = 0;
    // 0 normal, 1 master, 2 slave.
    virtual int Kind() const = 0;
    virtual void Dump(std::ostream& out) const = 0;

protected:
    HandleAllocator() = default;
    HandleAllocator(const HandleAllocator&) = delete;
    HandleAllocator& operator=(const HandleAllocator&) = delete;
};

// ReleaseAll's wanted amount: more than any process holds, so every free handle goes.
constexpr uint64_t kReleaseEverything = 0x640000000000ull;

}  // namespace tarn::paged_allocator
