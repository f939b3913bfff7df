#include "memory/RegionDirectory.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Platform.h"

namespace tarn {

namespace {

using VirtualAlloc2Function = PVOID(WINAPI*)(HANDLE, PVOID, SIZE_T, ULONG, ULONG, MEM_EXTENDED_PARAMETER*, ULONG);

// Looked up at run time: the call exists only on recent systems.
VirtualAlloc2Function LookUpVirtualAlloc2() {
    static const VirtualAlloc2Function fn = [] {
        HMODULE kernelBase = LoadLibraryW(WSTR("kernelbase.dll"));
        return kernelBase ? reinterpret_cast<VirtualAlloc2Function>(GetProcAddress(kernelBase, "VirtualAlloc2"))
                          : nullptr;
    }();
    if (!fn) throw std::runtime_error("VirtualAlloc2 not found.");
    return fn;
}

void* AllocateAlignedRegion() {
    VirtualAlloc2Function virtualAlloc2 = LookUpVirtualAlloc2();
    MEM_ADDRESS_REQUIREMENTS requirements{};
    requirements.Alignment = kRegionSize;
    MEM_EXTENDED_PARAMETER parameter{};
    parameter.Type = MemExtendedParameterAddressRequirements;
    parameter.Pointer = &requirements;
    void* base = virtualAlloc2(nullptr, nullptr, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &parameter, 1);
    if (!base) throw std::runtime_error("FailAlignedAlloc");
    return base;
}

}  // namespace

RegionDirectory& RegionDirectory::Instance() {
    // Never destroyed: blocks may be freed by threads that outlive static destruction.
    static RegionDirectory* directory = new RegionDirectory();
    return *directory;
}

PoolChunk* RegionDirectory::GetChunk(size_t blockSize) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t exhaustedAtStart = exhausted_.size();
    while (!available_.empty()) {
        PoolRegion* region = available_.front();
        if (PoolChunk* c = region->TakeChunk(blockSize)) return c;
        available_.pop_front();
        exhausted_.push_back(region);
    }
    if (skipCounter_ > 0) {
        --skipCounter_;
    } else if (PoolChunk* c = RescanExhausted(blockSize, exhaustedAtStart)) {
        return c;
    }
    return CreateRegionChunk(blockSize);
}

// Asks the regions that were exhausted before this request, oldest first.
PoolChunk* RegionDirectory::RescanExhausted(size_t blockSize, size_t count) {
    std::vector<PoolRegion*> setAside;
    PoolChunk* found = nullptr;
    for (size_t i = 0; i < count && !exhausted_.empty(); ++i) {
        PoolRegion* region = exhausted_.front();
        exhausted_.pop_front();
        if ((found = region->TakeChunk(blockSize))) {
            available_.push_back(region);
            break;
        }
        setAside.push_back(region);
    }
    exhausted_.insert(exhausted_.end(), setAside.begin(), setAside.end());
    if (!found) skipCounter_ = static_cast<int>(std::min<size_t>(kSkipLimit, exhausted_.size() / 5));
    return found;
}

PoolChunk* RegionDirectory::CreateRegionChunk(size_t blockSize) {
    void* base = AllocateAlignedRegion();
    regions_.reserve(regions_.size() + 1);
    PoolRegion* region = PoolRegion::Create(base);
    regions_.push_back({base, region});
    available_.push_back(region);
    return region->TakeChunk(blockSize);
}

size_t RegionDirectory::RegionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return regions_.size();
}

size_t RegionDirectory::ExhaustedCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return exhausted_.size();
}

int RegionDirectory::SkipCounter() {
    std::lock_guard<std::mutex> lock(mutex_);
    return skipCounter_;
}

}  // namespace tarn
