// Where regions come from and what happens when none can be had: the VirtualAlloc way that
// systems without VirtualAlloc2 take, and images in a process whose address space runs out
// (as a 32-bit process's 2 GiB do), which must fail like exhausted memory, never crash.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "image/CImage32.h"
#include "memory/PoolGeometry.h"
#include "memory/RegionDirectory.h"
#include "platform/Platform.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define THUMB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define THUMB_SANITIZED 1
#endif
#endif

namespace tarn {
namespace {

TEST(RegionSource, WithoutVirtualAlloc2RegionsAreAlignedCommittedAndDistinct) {
    std::set<uintptr_t> bases;
    std::vector<void*> regions;
    for (int i = 0; i < 6; ++i) {
        void* base = AllocateAlignedRegion(RegionSource::WithoutVirtualAlloc2);
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(base) & (kRegionSize - 1), 0u);
        std::memset(base, 0x5A, kRegionSize);  // every byte committed and writable
        bases.insert(reinterpret_cast<uintptr_t>(base));
        regions.push_back(base);
    }
    EXPECT_EQ(bases.size(), regions.size());
    for (void* base : regions) EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(RegionSource, VirtualAllocAtAnAddressInUseFails) {
    void* taken = VirtualAlloc(nullptr, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(VirtualAlloc(taken, 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    // Addresses off the 64 KiB grid and empty sizes are refused as on Windows.
    EXPECT_EQ(VirtualAlloc(reinterpret_cast<char*>(taken) + 0x1000, 0x10000, MEM_RESERVE, PAGE_NOACCESS), nullptr);
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_RESERVE, PAGE_NOACCESS), nullptr);
    EXPECT_TRUE(VirtualFree(taken, 0, MEM_RELEASE));
    // Once free, the same address can be taken exactly.
    void* again = VirtualAlloc(taken, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    EXPECT_EQ(again, taken);
    if (again) {
        EXPECT_TRUE(VirtualFree(again, 0, MEM_RELEASE));
    }
}

// Bytes of address space the process holds now.
size_t AddressSpaceInUse() {
    unsigned long pages = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Runs in a child process limited to 192 MiB more address space: pooled images are made until
// a region cannot be had, then a large one; every failure is a false Resize and a usable 1 x 1
// image, and memory handed back serves new images again. Exits 0 when all of that holds.
[[noreturn]] void ExhaustAddressSpace() {
    std::vector<CImage32> images(4096);  // 4096 x 64 KiB: twice what the limit allows
    CImage32 big;
    const rlim_t limit = AddressSpaceInUse() + (rlim_t{192} << 20);
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = limit;
    if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(10);
    size_t made = 0;
    while (made < images.size() && images[made].Resize(128, 128)) ++made;
    if (made == 0 || made == images.size()) _exit(11);                   // never ran out
    if (images[made].Width() != 1 || !images[made].Pixels()) _exit(12);  // not left usable
    if (big.Resize(8192, 8192) || big.Width() != 1) _exit(13);           // 256 MiB
    bool threw = false;
    try {
        AllocateAlignedRegion(RegionSource::WithoutVirtualAlloc2);
    } catch (const std::runtime_error&) {
        threw = true;
    }
    if (!threw) _exit(14);
    // Pool blocks go back to their chunks and serve the next images.
    for (size_t i = 0; i < made; ++i) images[i].Resize(1, 1);
    for (size_t i = 0; i < made; ++i)
        if (!images[i].Resize(128, 128)) _exit(15);
    _exit(0);
}

TEST(AddressSpace, ExhaustionFailsImagesCleanlyAndMemoryComesBack) {
#ifdef THUMB_SANITIZED
    GTEST_SKIP() << "sanitizer runtimes reserve address space beyond any useful limit";
#else
    EXPECT_EXIT(ExhaustAddressSpace(), testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace tarn
