#include "memory/Pager.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "memory/CriticalSectionGuard.h"
#include "memory/MemoryStatistics.h"
#include "memory/SlaveHandleAllocator.h"

namespace tarn {

namespace {

constexpr WCHAR kFileName[] = WSTR("_libtarn_pager_.dat");
constexpr uint64_t kLargeRequest = 0xA0000;  // 10 units: from here on a request gets whole handles
// Far beyond any image (at most 8 GiB of pixels), low enough that offsets never overflow.
constexpr uint64_t kMaxUnits = uint64_t{1} << 32;

std::basic_string<WCHAR> PagerPath() {
    // Asked for the length first, so a long temporary directory is not cut short.
    std::basic_string<WCHAR> dir(GetTempPathW(0, nullptr), WCHAR(0));
    DWORD n = dir.empty() ? 0 : GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    // No temporary directory: the bare name, relative to the current directory.
    dir.resize(n < dir.size() ? n : 0);
    return dir + kFileName;
}

paged_allocator::HandleAllocator* MakeAllocator(Pager& pager, uint64_t size) {
    using namespace paged_allocator;
    const uint64_t unit = Pager::kUnit;
    if (size >= kLargeRequest) return new NormalHandleAllocator(pager, (size + unit - 1) / unit);
    if (size <= unit || size % unit != 0) {
        const uint64_t masterUnits = unit % size == 0 ? 1 : (10 * size + unit - 1) / unit;
        return new SlaveHandleAllocator(pager, size, masterUnits);
    }
    return new NormalHandleAllocator(pager, size / unit);
}

}  // namespace

// The process-wide instance. Its destructor runs at process end: it closes and deletes the
// file but keeps the allocators, since images destroyed later in the exit sequence still free
// their handles into them.
struct PagerInstance {
    PagerInstance() { InitializeCriticalSectionAndSpinCount(&creationLock, 1024); }
    ~PagerInstance() {
        if (Pager* p = pager.load(std::memory_order_acquire)) {
            try {
                p->CloseFile();
            } catch (...) {
            }
        }
    }
    CRITICAL_SECTION creationLock;
    std::atomic<Pager*> pager{nullptr};
};

namespace {
PagerInstance& Instance() {
    static PagerInstance instance;
    return instance;
}
}  // namespace

Pager& Pager::Get() {
    PagerInstance& inst = Instance();
    if (Pager* p = inst.pager.load(std::memory_order_acquire)) return *p;
    CriticalSectionGuard guard(inst.creationLock);
    Pager* p = inst.pager.load(std::memory_order_acquire);
    if (!p) {
        p = new Pager(Statistics());
        inst.pager.store(p, std::memory_order_release);
    }
    return *p;
}

Pager* Pager::Existing() { return Instance().pager.load(std::memory_order_acquire); }

Pager::Pager(MemoryStatistics& stats) : stats_(stats), path_(PagerPath()), small_(*this, 1) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path_.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        DeleteFileW(path_.c_str());  // a leftover of an earlier process
    }
    file_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        throw std::runtime_error("can't open file: errcode=" + std::to_string(GetLastError()));
    InitializeCriticalSectionAndSpinCount(&growthLock_, 1024);
    InitializeCriticalSectionAndSpinCount(&freeLock_, 1024);
    InitializeCriticalSectionAndSpinCount(&allocatorLock_, 1024);
}

Pager::~Pager() {
    allocators_.clear();
    // small_ is a member and goes after this body; release its free list while the file is open.
    try {
        small_.ReleaseFree(stats_, paged_allocator::kReleaseEverything);
    } catch (...) {
    }
    try {
        CloseFile();
    } catch (...) {
        // A destructor must not throw; the file may stay behind, as after a crash, and the
        // next pager deletes it.
    }
    DeleteCriticalSection(&allocatorLock_);
    DeleteCriticalSection(&freeLock_);
    DeleteCriticalSection(&growthLock_);
}

void Pager::CloseFile() {
    CriticalSectionGuard guard(growthLock_);
    if (file_ == INVALID_HANDLE_VALUE) return;
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) throw std::runtime_error("CloseHandle fail.");
    DeleteFileW(path_.c_str());
}

void* Pager::MapRegion(uint64_t offset, uint64_t length) {
    HANDLE mapping;
    {
        CriticalSectionGuard guard(growthLock_);  // the file handle is closed under this lock
        mapping = file_ == INVALID_HANDLE_VALUE ? nullptr
                                                : CreateFileMappingW(file_, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    }
    if (!mapping) throw std::runtime_error("fail to map file.");
    void* view = MapViewOfFileEx(mapping, FILE_MAP_WRITE, static_cast<DWORD>(offset >> 32), static_cast<DWORD>(offset),
                                 static_cast<SIZE_T>(length), nullptr);
    CloseHandle(mapping);  // the view keeps the mapping alive
    if (!view) throw std::runtime_error("fail to map file2.");
    mappedViews_.fetch_add(1, std::memory_order_relaxed);
    return view;
}

void Pager::UnmapView(void* view) {
    if (UnmapViewOfFile(view)) mappedViews_.fetch_sub(1, std::memory_order_relaxed);
}

void* Pager::MapOrReturn(uint64_t offset, uint64_t units) {
    try {
        return MapRegion(offset, units * kUnit);
    } catch (...) {
        // The region would otherwise be lost to the file for good.
        ReturnRegion(offset, units);
        throw;
    }
}

Pager::Region Pager::TakeRegion(uint64_t units) {
    if (units == 0 || units > kMaxUnits) throw std::runtime_error("fail to enlarge file.");
    bool found = false;
    uint64_t offset = 0;
    {
        CriticalSectionGuard guard(freeLock_);
        for (auto it = freeRegions_.begin(); it != freeRegions_.end(); ++it) {
            if (it->second < units) continue;
            if (it->second == units) {
                offset = it->first;
                freeRegions_.erase(it);
            } else {
                it->second -= units;
                offset = it->first + it->second * kUnit;
            }
            found = true;
            break;
        }
    }
    if (found) return Region{MapOrReturn(offset, units), offset};

    CriticalSectionGuard guard(growthLock_);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(fileSize_ + units * kUnit);
    if (file_ == INVALID_HANDLE_VALUE || !SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file_))
        throw std::runtime_error("fail to enlarge file.");
    offset = fileSize_;
    fileSize_ += units * kUnit;
    return Region{MapOrReturn(offset, units), offset};
}

void Pager::ReturnRegion(uint64_t offset, uint64_t units) {
    CriticalSectionGuard guard(freeLock_);
    auto next = freeRegions_.lower_bound(offset);
    if (next != freeRegions_.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second * kUnit == offset) {
            prev->second += units;
            if (next != freeRegions_.end() && next->first == offset + units * kUnit) {
                prev->second += next->second;
                freeRegions_.erase(next);
            }
            return;
        }
    }
    if (next != freeRegions_.end() && next->first == offset + units * kUnit) {
        units += next->second;
        freeRegions_.erase(next);
    }
    freeRegions_.emplace(offset, units);
}

paged_allocator::HandleAllocator& Pager::AllocatorFor(uint64_t size) {
    if (size == kUnit) return small_;
    if (size == 0) throw std::runtime_error("Never reached here.");
    CriticalSectionGuard guard(allocatorLock_);
    auto it = allocators_.find(size);
    if (it == allocators_.end())
        it = allocators_.emplace(size, std::unique_ptr<paged_allocator::HandleAllocator>(MakeAllocator(*this, size))).first;
    return *it->second;
}

void Pager::FreeBySize(NMemHandle* handle, uint64_t size) {
    if (size == kUnit) return small_.Free(handle);
    paged_allocator::HandleAllocator* allocator = nullptr;
    {
        CriticalSectionGuard guard(allocatorLock_);
        auto it = allocators_.find(size);
        if (it != allocators_.end()) allocator = it->second.get();
    }
    // No allocator of that size ever made this handle: the caller gave the wrong size.
    if (!allocator) throw std::runtime_error("Never reached here.");
    allocator->Free(handle);
}

std::vector<paged_allocator::HandleAllocator*> Pager::AllocatorsBySize() const {
    CriticalSectionGuard guard(allocatorLock_);
    std::vector<paged_allocator::HandleAllocator*> out;
    out.reserve(allocators_.size());
    for (const auto& [size, allocator] : allocators_) out.push_back(allocator.get());
    return out;
}

void Pager::Dump(std::ostream& out) const {
    small_.Dump(out);
    for (paged_allocator::HandleAllocator* a : AllocatorsBySize()) a->Dump(out);
}

uint64_t Pager::FileSize() const {
    CriticalSectionGuard guard(growthLock_);
    return fileSize_;
}

std::vector<std::pair<uint64_t, uint64_t>> Pager::FreeRegions() const {
    CriticalSectionGuard guard(freeLock_);
    return {freeRegions_.begin(), freeRegions_.end()};
}

}  // namespace tarn
