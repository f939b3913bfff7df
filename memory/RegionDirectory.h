// Every pool region of a process, and the order in which they are asked for chunks.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "memory/IntrusiveQueue.h"
#include "memory/PoolChunk.h"
#include "memory/PoolRegion.h"

namespace tarn {

// 16 MiB of committed read-write memory on a 16 MiB boundary, for one region; throws
// std::runtime_error("FailAlignedAlloc") when the system has none. Automatic uses
// VirtualAlloc2 when kernelbase.dll has it and VirtualAlloc otherwise; WithoutVirtualAlloc2
// takes the second way whatever the system has (for tests).
enum class RegionSource { Automatic, WithoutVirtualAlloc2 };
void* AllocateAlignedRegion(RegionSource source = RegionSource::Automatic);

// Who touches what: every field, and the `queueNext` link of every region it made, only under
// `mutex`. The mutex is held while regions are asked for chunks, so it comes before every
// region and pool mutex. Chunks go back to their regions without it.
class RegionDirectory {
public:
    static constexpr size_t kSkipLimit = 10;

    RegionDirectory() = default;
    // Releases the regions this directory made. The process directory is destroyed only by
    // ReleaseProcess (threads may free blocks until the very end of the process).
    ~RegionDirectory();
    RegionDirectory(const RegionDirectory&) = delete;
    RegionDirectory& operator=(const RegionDirectory&) = delete;

    // The one directory of the process, made on first use (and again after ReleaseProcess).
    static RegionDirectory& Process();
    // Module unload with no block out: destroys the process directory, returning every region
    // it made to the system.
    static void ReleaseProcess();

    // A chunk for `blockSize` with at least one free block, from an existing region or a new
    // one. Throws std::runtime_error when a region is needed and cannot be made.
    PoolChunk* TakeChunk(size_t blockSize);

private:
    friend struct PoolIntrospection;
    struct RegionRecord {
        void* base;
        PoolRegion* region;
    };

    PoolChunk* RescanExhausted(size_t blockSize, size_t count);
    PoolChunk* TakeFromNewRegion(size_t blockSize);

    SlimMutex mutex;
    std::vector<RegionRecord> records;
    IntrusiveQueue<PoolRegion> available;
    IntrusiveQueue<PoolRegion> exhausted;
    size_t skipCounter = 0;
};

}  // namespace tarn
