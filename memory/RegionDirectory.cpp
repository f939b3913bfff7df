#include "memory/RegionDirectory.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/Platform.h"

namespace tarn {

namespace {

using VirtualAlloc2Function = decltype(&VirtualAlloc2);

// Looked up at run time, once per process: older systems lack the call.
VirtualAlloc2Function LookUpVirtualAlloc2() {
    static const VirtualAlloc2Function function = [] {
        HMODULE module = LoadLibraryW(WSTR("kernelbase.dll"));
        FARPROC address = module ? GetProcAddress(module, "VirtualAlloc2") : nullptr;
        return reinterpret_cast<VirtualAlloc2Function>(reinterpret_cast<void (*)()>(address));
    }();
    if (!function) throw std::runtime_error("VirtualAlloc2 not found.");
    return function;
}

// 16 MiB of committed read-write memory on a 16 MiB boundary.
void* AllocateAlignedRegion() {
    VirtualAlloc2Function virtualAlloc2 = LookUpVirtualAlloc2();
    MEM_ADDRESS_REQUIREMENTS requirements{};
    requirements.Alignment = kRegionSize;
    MEM_EXTENDED_PARAMETER parameter{};
    parameter.Type = MemExtendedParameterAddressRequirements;
    parameter.Pointer = &requirements;
    void* base = virtualAlloc2(nullptr, nullptr, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &parameter, 1);
    if (base && (reinterpret_cast<uintptr_t>(base) & (kRegionSize - 1)) != 0) {
        VirtualFree(base, 0, MEM_RELEASE);
        base = nullptr;
    }
    if (!base) throw std::runtime_error("FailAlignedAlloc");
    return base;
}

}  // namespace

RegionDirectory::~RegionDirectory() {
    for (const RegionRecord& record : records) {
        record.region->~PoolRegion();
        VirtualFree(record.base, 0, MEM_RELEASE);
    }
}

namespace {
// Never destroyed by a static destructor: blocks may be freed by static destructors and late
// threads. Made on first use, so it is ready for any static constructor.
std::mutex& ProcessMutex() {
    static std::mutex mutex;
    return mutex;
}
constinit RegionDirectory* processDirectory = nullptr;
}  // namespace

RegionDirectory& RegionDirectory::Process() {
    std::lock_guard<std::mutex> lock(ProcessMutex());
    if (!processDirectory) processDirectory = new RegionDirectory();
    return *processDirectory;
}

void RegionDirectory::ReleaseProcess() {
    std::lock_guard<std::mutex> lock(ProcessMutex());
    delete processDirectory;
    processDirectory = nullptr;
}

PoolChunk* RegionDirectory::TakeChunk(size_t blockSize) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t exhaustedAtStart = exhausted.Length();
    while (PoolRegion* region = available.Front()) {
        if (PoolChunk* chunk = region->TakeChunk(blockSize)) return chunk;
        exhausted.PushBack(available.PopFront());
    }
    // After a rescan found nothing, the next few requests go straight to a new region, so a
    // process with many exhausted regions does not rescan them all every time.
    if (skipCounter > 0) {
        --skipCounter;
    } else if (PoolChunk* chunk = RescanExhausted(blockSize, exhaustedAtStart)) {
        return chunk;
    }
    return TakeFromNewRegion(blockSize);
}

// Asks the `count` regions at the front of the exhausted queue (those that were there when the
// request began) in turn; the first that gives a chunk becomes available again.
PoolChunk* RegionDirectory::RescanExhausted(size_t blockSize, size_t count) {
    IntrusiveQueue<PoolRegion> setAside;
    PoolChunk* found = nullptr;
    for (size_t i = 0; i < count && !found; ++i) {
        PoolRegion* region = exhausted.PopFront();
        found = region->TakeChunk(blockSize);
        if (found)
            available.PushBack(region);
        else
            setAside.PushBack(region);
    }
    exhausted.Append(setAside);
    if (!found) skipCounter = std::min(kSkipLimit, exhausted.Length() / 5);
    return found;
}

PoolChunk* RegionDirectory::TakeFromNewRegion(size_t blockSize) {
    // Room for the record first, so a failure cannot leave a region nobody knows about.
    records.reserve(records.size() + 1);
    void* base = AllocateAlignedRegion();
    PoolRegion* region = PoolRegion::InitializeAt(base);
    records.push_back({base, region});
    available.PushBack(region);
    return region->TakeChunk(blockSize);
}

}  // namespace tarn
