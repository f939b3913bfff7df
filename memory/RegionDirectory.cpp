#include "memory/RegionDirectory.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/Platform.h"

namespace tarn {

namespace {

using VirtualAlloc2Function = decltype(&VirtualAlloc2);

// Looked up at run time, once per process: systems before Windows 10 1803 lack the call.
VirtualAlloc2Function LookUpVirtualAlloc2() {
    static const VirtualAlloc2Function function = [] {
        HMODULE module = LoadLibraryW(WSTR("kernelbase.dll"));
        FARPROC address = module ? GetProcAddress(module, "VirtualAlloc2") : nullptr;
        return reinterpret_cast<VirtualAlloc2Function>(reinterpret_cast<void (*)()>(address));
    }();
    return function;
}

void* AllocateWithVirtualAlloc2(VirtualAlloc2Function virtualAlloc2) {
    MEM_ADDRESS_REQUIREMENTS requirements{};
    requirements.Alignment = kRegionSize;
    MEM_EXTENDED_PARAMETER parameter{};
    parameter.Type = MemExtendedParameterAddressRequirements;
    parameter.Pointer = &requirements;
    return virtualAlloc2(nullptr, nullptr, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &parameter, 1);
}

// Without VirtualAlloc2: reserve a span that must hold an aligned region, give it back and
// take the aligned range inside it. A reservation cannot be released in part, and keeping the
// whole span would double the address space a region costs (scarce in a 32-bit process).
// Another thread may take the range in between, so this tries a few times.
void* AllocateWithVirtualAlloc() {
    constexpr size_t kGranularity = 0x10000;
    for (int attempt = 0; attempt < 8; ++attempt) {
        void* span = VirtualAlloc(nullptr, 2 * kRegionSize - kGranularity, MEM_RESERVE, PAGE_NOACCESS);
        if (!span) return nullptr;  // no hole that large is left
        const uintptr_t aligned = (reinterpret_cast<uintptr_t>(span) + kRegionSize - 1) & ~(kRegionSize - 1);
        VirtualFree(span, 0, MEM_RELEASE);
        if (void* base = VirtualAlloc(reinterpret_cast<void*>(aligned), kRegionSize, MEM_RESERVE | MEM_COMMIT,
                                      PAGE_READWRITE))
            return base;
    }
    return nullptr;
}

}  // namespace

void* AllocateAlignedRegion(RegionSource source) {
    VirtualAlloc2Function virtualAlloc2 = source == RegionSource::Automatic ? LookUpVirtualAlloc2() : nullptr;
    void* base = virtualAlloc2 ? AllocateWithVirtualAlloc2(virtualAlloc2) : AllocateWithVirtualAlloc();
    if (base && (reinterpret_cast<uintptr_t>(base) & (kRegionSize - 1)) != 0) {
        VirtualFree(base, 0, MEM_RELEASE);
        base = nullptr;
    }
    // Address space or commit exhausted (in a 32-bit process, 2 GiB go quickly): callers turn
    // this into a failed allocation.
    if (!base) throw std::runtime_error("FailAlignedAlloc");
    return base;
}

RegionDirectory::~RegionDirectory() {
    for (const RegionRecord& record : records) {
        record.region->~PoolRegion();
        VirtualFree(record.base, 0, MEM_RELEASE);
    }
}

namespace {
// Never destroyed by a static destructor: blocks may be freed by static destructors and late
// threads. Made on first use, so it is ready for any static constructor.
SlimMutex& ProcessMutex() {
    static SlimMutex mutex;
    return mutex;
}
constinit RegionDirectory* processDirectory = nullptr;
}  // namespace

RegionDirectory& RegionDirectory::Process() {
    std::lock_guard<SlimMutex> lock(ProcessMutex());
    if (!processDirectory) processDirectory = new RegionDirectory();
    return *processDirectory;
}

void RegionDirectory::ReleaseProcess() {
    std::lock_guard<SlimMutex> lock(ProcessMutex());
    delete processDirectory;
    processDirectory = nullptr;
}

PoolChunk* RegionDirectory::TakeChunk(size_t blockSize) {
    std::lock_guard<SlimMutex> lock(mutex);
    const size_t exhaustedAtStart = exhausted.Length();
    while (PoolRegion* region = available.Front()) {
        if (PoolChunk* chunk = region->TakeChunk(blockSize)) return chunk;
        exhausted.PushBack(available.PopFront());
    }
    // After a rescan found nothing, the next few requests go straight to a new region, so a
    // process with many exhausted regions does not rescan them all every time.
    if (skipCounter > 0) {
        --skipCounter;
        // Skipping saves a rescan only while new regions can be had. With the address space
        // used up (soon, in a 32-bit process) chunks freed since the last rescan must still
        // be found, or requests fail while the pools hold free memory.
        try {
            return TakeFromNewRegion(blockSize);
        } catch (const std::runtime_error&) {
            skipCounter = 0;
        }
    }
    if (PoolChunk* chunk = RescanExhausted(blockSize, exhaustedAtStart)) return chunk;
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
