// What a long-lived host can watch of itself on Linux: virtual size and resident set
// (/proc/self/status), the C heap's bytes in use (mallinfo2) and open file descriptors
// (/proc/self/fd). Before any figure is trusted, CountersFollowObjects shows each one moving
// with objects made and freed on purpose.
//
// Virtual size is shown, never judged: it jumps by 8 MiB when a short-lived thread's stack
// happens to be mapped (or cached by glibc) at the moment of a reading, and by 64 MiB when
// glibc makes another malloc arena the first time threads contend, which it does lazily and
// by timing. Neither is memory the process holds. Nor is the file-backed part of the resident
// set: code pages of the program and its libraries fault in as new paths run (and a loaded
// module's come and go with it), by a few hundred KiB at a time. A leak raises the anonymous
// resident memory (heap, mappings, stacks: RssAnon) or the heap in use, and those are what the
// tests judge.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace hostcounters {

struct Counters {
    int64_t vmSizeKiB = 0;
    int64_t vmRssKiB = 0;
    int64_t rssAnonKiB = 0;  // the part of VmRSS no file backs: heap, stacks, pool regions
    int64_t heapInUseBytes = 0;  // every arena's allocated chunks plus mmapped blocks
    int64_t fds = 0;
};

// glibc raises its mmap threshold each time a large block is freed, after which blocks of
// megabytes come from arenas and stay resident in 8 MiB steps between identical cycles. A
// fixed threshold keeps large blocks mapped and returned, so the resident set shows what is
// held. glibc also makes a new arena whenever threads first collide on the existing ones, by
// timing alone, and each new one keeps some 100 KiB resident (its top and the pages its
// chunks pin) and 64 MiB of address space: one arena for the whole test keeps that step out
// of the readings, while a leak from any thread still lands in it. Call once, before anything
// is measured and before the first thread starts.
inline void FixHeapThresholds() {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_ARENA_MAX, 1);
}

// The C heap is trimmed first: memory glibc keeps cached for reuse is not memory anyone holds,
// and without the trim the resident set swings by megabytes between identical cycles.
inline Counters Read() {
    malloc_trim(0);
    Counters c;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) c.vmSizeKiB = std::stoll(line.substr(7));
        if (line.rfind("VmRSS:", 0) == 0) c.vmRssKiB = std::stoll(line.substr(6));
        if (line.rfind("RssAnon:", 0) == 0) c.rssAnonKiB = std::stoll(line.substr(8));
    }
    status.close();
    const struct mallinfo2 heap = mallinfo2();
    c.heapInUseBytes = static_cast<int64_t>(heap.uordblks + heap.hblkhd);
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++c.fds;
        closedir(dir);
        --c.fds;  // the directory's own descriptor
    }
    return c;
}

// Growth per step of a series of readings taken after identical steps: the slope between the
// medians of its first and last thirds. Single readings jump by a few hundred KiB and come
// back (an arena top glibc did not return yet, a thread's cached stack); a leak moves the
// whole series, and the medians with it.
inline double GrowthPerStep(const std::vector<int64_t>& values) {
    const size_t third = values.size() / 3;
    if (third == 0) return values.size() < 2 ? 0.0 : double(values.back() - values.front()) / double(values.size() - 1);
    auto median = [](std::vector<int64_t> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const int64_t early = median(std::vector<int64_t>(values.begin(), values.begin() + third));
    const int64_t late = median(std::vector<int64_t>(values.end() - third, values.end()));
    return double(late - early) / double(values.size() - third);
}

// Maps and touches 16 MiB, allocates 4 MiB in small blocks from the C heap, then opens 8
// descriptors: each counter must rise by about that much and fall back when they are gone.
inline bool CountersFollowObjects() {
    constexpr size_t kBytes = size_t{16} << 20;
    constexpr int64_t kKiB = kBytes >> 10, kSlackKiB = 1024;
    bool ok = true;
    auto expect = [&](const char* what, int64_t got, int64_t want, int64_t slack) {
        const bool fine = got >= want - slack && got <= want + slack;
        if (!fine) std::printf("counter check: %s moved by %lld, expected %lld\n", what, (long long)got, (long long)want);
        ok = ok && fine;
    };
    const Counters before = Read();
    void* block = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return false;
    std::memset(block, 1, kBytes);
    const Counters mapped = Read();
    munmap(block, kBytes);
    const Counters unmapped = Read();
    expect("VmSize with 16 MiB mapped", mapped.vmSizeKiB - before.vmSizeKiB, kKiB, kSlackKiB);
    expect("VmRSS with 16 MiB touched", mapped.vmRssKiB - before.vmRssKiB, kKiB, kSlackKiB);
    expect("VmSize after unmapping", unmapped.vmSizeKiB - before.vmSizeKiB, 0, kSlackKiB);
    expect("VmRSS after unmapping", unmapped.vmRssKiB - before.vmRssKiB, 0, kSlackKiB);
    expect("RssAnon with 16 MiB touched", mapped.rssAnonKiB - before.rssAnonKiB, kKiB, kSlackKiB);
    expect("RssAnon after unmapping", unmapped.rssAnonKiB - before.rssAnonKiB, 0, kSlackKiB);
    constexpr size_t kSmall = 1024, kSmallCount = 4096;
    constexpr int64_t kHeapBytes = int64_t{kSmall * kSmallCount}, kHeapSlack = 256 * 1024;  // chunk headers and the vector
    std::vector<void*> small;
    for (size_t i = 0; i < kSmallCount; ++i) small.push_back(std::malloc(kSmall));
    const Counters allocated = Read();
    for (void* p : small) std::free(p);
    small = {};
    const Counters freed = Read();
    expect("heap in use with 4 MiB allocated", allocated.heapInUseBytes - before.heapInUseBytes, kHeapBytes, kHeapSlack);
    expect("heap in use after freeing", freed.heapInUseBytes - before.heapInUseBytes, 0, kHeapSlack);
    std::vector<int> fds;
    for (int i = 0; i < 8; ++i) fds.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const Counters opened = Read();
    for (int fd : fds) close(fd);
    const Counters closed = Read();
    expect("descriptors with 8 opened", opened.fds - before.fds, 8, 0);
    expect("descriptors after closing", closed.fds - before.fds, 0, 0);
    return ok;
}

}  // namespace hostcounters
