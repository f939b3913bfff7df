// Image memory blocks of 16, 64 and 128 KiB: the block pools against glibc malloc and against
// mimalloc, in one run, with default settings for each.
//
//   Pair/<allocator>/<size>         allocate, touch, free on one thread
//   Batch64/<allocator>/<size>      allocate 64, touch each, free all 64 (time per block)
//   CrossThread/<allocator>/<size>  this thread allocates and touches batches of 64, another
//                                   frees them (time per block on each side)
//
// Debian's libmimalloc exports malloc and free too, so linking it would replace glibc's malloc
// for the whole process and the glibc figures would really be mimalloc's. It is therefore
// loaded privately (RTLD_LOCAL) and only its mi_malloc / mi_free are called.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "memory/ImageMemory.h"

namespace {

struct Mimalloc {
    void* (*allocate)(size_t) = nullptr;
    void (*release)(void*) = nullptr;
};

const Mimalloc& LoadMimalloc() {
    static const Mimalloc api = [] {
        Mimalloc m;
        void* library = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library) {
            m.allocate = reinterpret_cast<void* (*)(size_t)>(dlsym(library, "mi_malloc"));
            m.release = reinterpret_cast<void (*)(void*)>(dlsym(library, "mi_free"));
        }
        return m;
    }();
    return api;
}

struct Pool {
    static constexpr const char* kName = "pool";
    static void* Allocate(size_t n) { return tarn::AllocateImageMemory(n); }
    static void Free(void* p, size_t n) { tarn::FreeImageMemory(p, n); }
};
struct Glibc {
    static constexpr const char* kName = "glibc";
    static void* Allocate(size_t n) { return std::malloc(n); }
    static void Free(void* p, size_t) { std::free(p); }
};
struct Mi {
    static constexpr const char* kName = "mimalloc";
    static void* Allocate(size_t n) { return LoadMimalloc().allocate(n); }
    static void Free(void* p, size_t) { LoadMimalloc().release(p); }
};

// Every allocator's block is written once, as a pixel buffer would be at least.
inline void Touch(void* p) {
    *static_cast<volatile unsigned char*>(p) = 1;
}

template <class A>
void Pair(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = A::Allocate(bytes);
        Touch(p);
        A::Free(p, bytes);
    }
    state.SetItemsProcessed(state.iterations());
}

template <class A>
void Batch64(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    void* blocks[64];
    for (auto _ : state) {
        for (void*& p : blocks) {
            p = A::Allocate(bytes);
            Touch(p);
        }
        for (void* p : blocks) A::Free(p, bytes);
    }
    state.SetItemsProcessed(state.iterations() * 64);
}

// Batches of blocks on their way to the freeing thread. Both sides sleep rather than spin when
// they must wait, so on a busy machine the figures measure the allocators, not the scheduler.
class Handoff {
public:
    static constexpr size_t kBatch = 64;
    static constexpr size_t kMaxInFlight = 8;
    struct Batch {
        void* blocks[kBatch];
    };

    void Push(const Batch& batch) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return queue.size() < kMaxInFlight; });
        queue.push_back(batch);
        changed.notify_all();
    }
    // False once the producer has finished and everything has been taken.
    bool Pop(Batch& batch) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !queue.empty() || finished; });
        if (queue.empty()) return false;
        batch = queue.front();
        queue.pop_front();
        changed.notify_all();
        return true;
    }
    void Finish() {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch> queue;
    bool finished = false;
};

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// This thread allocates batches of 64 blocks, another frees them. Time and CPU time are this
// thread's; free_ns is the freeing thread's CPU time per block.
template <class A>
void CrossThread(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    Handoff handoff;
    double freeSeconds = 0;
    std::thread consumer([&] {
        const double start = ThreadCpuSeconds();
        Handoff::Batch batch;
        while (handoff.Pop(batch))
            for (void* p : batch.blocks) A::Free(p, bytes);
        freeSeconds = ThreadCpuSeconds() - start;
    });
    for (auto _ : state) {
        Handoff::Batch batch;
        for (void*& p : batch.blocks) {
            p = A::Allocate(bytes);
            Touch(p);
        }
        handoff.Push(batch);
    }
    handoff.Finish();
    consumer.join();
    const double blocks = static_cast<double>(state.iterations() * Handoff::kBatch);
    state.SetItemsProcessed(state.iterations() * Handoff::kBatch);
    state.counters["free_ns"] = benchmark::Counter(freeSeconds * 1e9 / blocks);
}

template <class A>
void RegisterAll() {
    for (long size : {0x4000L, 0x10000L, 0x20000L}) {
        const std::string suffix = std::string("/") + A::kName + "/" + std::to_string(size / 1024) + "KiB";
        benchmark::RegisterBenchmark(("Pair" + suffix).c_str(), Pair<A>)->Arg(size);
        benchmark::RegisterBenchmark(("Batch64" + suffix).c_str(), Batch64<A>)->Arg(size);
        benchmark::RegisterBenchmark(("CrossThread" + suffix).c_str(), CrossThread<A>)->Arg(size);
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll<Pool>();
    RegisterAll<Glibc>();
    if (LoadMimalloc().allocate && LoadMimalloc().release)
        RegisterAll<Mi>();
    else
        std::fprintf(stderr, "libmimalloc.so.2 not found: mimalloc figures left out\n");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
