// The temporary file that handle memory pages out to, cut into regions of 64 KiB units, and
// the allocators that share it.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "memory/HandleAllocator.h"
#include "memory/NormalHandleAllocator.h"
#include "platform/Platform.h"

namespace tarn {

struct MemoryStatistics;

// Locks: growthLock_ (file size and growth), freeLock_ (the free-space map), allocatorLock_
// (the size-to-allocator map). Each is a leaf: nothing else is taken while one is held, and
// the free-space lock is never held while the file grows or a view is mapped.
class Pager {
public:
    static constexpr uint64_t kUnit = 0x10000;

    struct Region {
        void* view;
        uint64_t offset;
    };

    // The process-wide pager over Statistics(), created on first use. Its file is closed and
    // deleted when the process ends.
    static Pager& Get();
    // The process-wide pager if it has been created, else null. Never creates it.
    static Pager* Existing();

    // Creates "_libtarn_pager_.dat" in the temporary directory, deleting a leftover first.
    explicit Pager(MemoryStatistics& stats);
    // Destroys the allocators (releasing their free-listed handles), closes and deletes the file.
    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    // A region of `units` x 64 KiB, already mapped: the first free region that fits, else the
    // file grows.
    Region TakeRegion(uint64_t units);
    // Gives a region back (its views already unmapped), merging it with free neighbours.
    void ReturnRegion(uint64_t offset, uint64_t units);
    // A new read-write view of `length` bytes at `offset`.
    void* MapRegion(uint64_t offset, uint64_t length);
    void UnmapView(void* view);

    // The allocator that serves requests of `size` bytes (rounded to 8), made on first use.
    paged_allocator::HandleAllocator& AllocatorFor(uint64_t size);
    // Returns a pageable handle (or any 64 KiB one) to the allocator of its size.
    void FreeBySize(NMemHandle* handle, uint64_t size);
    // The pager's own allocator of 64 KiB handles.
    paged_allocator::NormalHandleAllocator& SmallAllocator() { return small_; }
    // The allocators of the size map in ascending size (the 64 KiB one is not among them).
    std::vector<paged_allocator::HandleAllocator*> AllocatorsBySize() const;

    // Every allocator's Dump, the 64 KiB one first, then by ascending size.
    void Dump(std::ostream& out) const;

    MemoryStatistics& Stats() const { return stats_; }
    const std::basic_string<WCHAR>& Path() const { return path_; }
    uint64_t FileSize() const;
    int64_t MappedViews() const { return mappedViews_.load(std::memory_order_relaxed); }
    // The free-space map as (offset, units) pairs in ascending offset.
    std::vector<std::pair<uint64_t, uint64_t>> FreeRegions() const;

private:
    friend struct PagerInstance;
    // Closes and deletes the file; the allocators stay so that late frees remain harmless.
    void CloseFile();
    void* MapOrReturn(uint64_t offset, uint64_t units);

    MemoryStatistics& stats_;
    std::basic_string<WCHAR> path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t fileSize_ = 0;  // guarded by growthLock_
    mutable CRITICAL_SECTION growthLock_;
    mutable CRITICAL_SECTION freeLock_;
    mutable CRITICAL_SECTION allocatorLock_;
    std::map<uint64_t, uint64_t> freeRegions_;  // offset -> units, guarded by freeLock_
    std::atomic<int64_t> mappedViews_{0};
    paged_allocator::NormalHandleAllocator small_;
    std::map<uint64_t, std::unique_ptr<paged_allocator::HandleAllocator>> allocators_;  // by request size
};

}  // namespace tarn
