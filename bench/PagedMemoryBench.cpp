#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/CImage32.h"
#include "memory/MemoryStatistics.h"
#include "memory/Pager.h"

namespace {

// The pager file goes to a private folder, removed afterwards.
struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/paged_bench_XXXXXX";
        path = mkdtemp(pattern) ? pattern : "/tmp";
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~TempDir() {
        std::error_code ec;
        if (path != "/tmp") std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

// What every image operation adds on the thumbnail path: a pin of a heap image is one test.
void BM_ScopedPixelLockSwitchOff(benchmark::State& state) {
    tarn::CImage32 image;
    image.Resize(256, 256);
    for (auto _ : state) {
        tarn::ScopedPixelLock lock(image);
        benchmark::DoNotOptimize(image.Pixels());
    }
}
BENCHMARK(BM_ScopedPixelLockSwitchOff);

void BM_LockUnlockResidentHandle(benchmark::State& state) {
    TempDir dir;
    tarn::MemoryStatistics stats;
    tarn::Pager pager(stats);
    tarn::NMemHandle* h = pager.SmallAllocator().Allocate(stats, state.range(0) != 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(h->Lock());
        h->Unlock();
    }
    pager.SmallAllocator().Free(h);
    state.SetLabel(state.range(0) ? "mapped" : "heap");
}
BENCHMARK(BM_LockUnlockResidentHandle)->Arg(0)->Arg(1);

// Unmap + map of a 64 KiB view, with the first touch of a word in it.
void BM_PageOutPageIn64K(benchmark::State& state) {
    TempDir dir;
    tarn::MemoryStatistics stats;
    stats.defaultsPending = false;
    stats.residentLimit = INT64_MAX;
    tarn::Pager pager(stats);
    auto& allocator = pager.SmallAllocator();
    tarn::NMemHandle* h = allocator.Allocate(stats, true);
    for (auto _ : state) {
        allocator.PageOut(stats, tarn::Pager::kUnit);
        auto* words = static_cast<volatile uint32_t*>(h->Lock());
        words[0] = words[0] + 1;
        h->Unlock();
    }
    allocator.Free(h);
}
BENCHMARK(BM_PageOutPageIn64K);

}  // namespace

BENCHMARK_MAIN();
