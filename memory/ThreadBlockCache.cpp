#include "memory/ThreadBlockCache.h"

#include <atomic>
#include <mutex>
#include <new>

#include "memory/MemoryStatistics.h"
#include "memory/PoolGeometry.h"
#include "memory/RegionDirectory.h"
#include "platform/Platform.h"

namespace tarn {

// Everything one thread keeps for the pools. Touched only by that thread, or by the exit
// callback running for it.
struct ThreadBlockCache::ThreadPools {
    ThreadBlockCache caches[kPooledSizeCount];
    // Pool bytes this thread took (+) or gave back (-) that the process-wide statistics do not
    // show yet; kept within kUncountedLimit either way.
    int64_t uncountedBytes = 0;

    void Count(int64_t bytes) {
        uncountedBytes += bytes;
        if (uncountedBytes > kUncountedLimit || uncountedBytes < -kUncountedLimit) [[unlikely]]
            Flush();
    }
    void Flush() {
        if (uncountedBytes) StatisticsRecord().Add(uncountedBytes);
        uncountedBytes = 0;
    }
};

namespace {

// The calling thread's pool state; null before its first pooled allocation and again once its
// exit callback has run.
constinit thread_local ThreadBlockCache::ThreadPools* threadPools = nullptr;

}  // namespace

// Thread-exit clean-up through fiber-local storage, whose callback runs when a thread ends
// (Windows runs it for DLLs without thread notifications too).
struct ThreadBlockCache::ThreadExit {
    static void WINAPI Callback(PVOID value) {
        // During teardown (FlsFree below) Windows calls this for every thread, killed ones
        // included, whose locks may be held forever: take none, free nothing.
        if (tearingDown.load(std::memory_order_acquire)) return;
        auto* pools = static_cast<ThreadPools*>(value);
        for (ThreadBlockCache& cache : pools->caches) cache.Release();
        pools->Flush();
        // The callback may run on another thread (Windows' FlsFree); only the value is ours.
        if (threadPools == pools) threadPools = nullptr;
        delete pools;
    }

    static DWORD Index() {
        std::call_once(once, [] { index = FlsAlloc(&Callback); });
        return index;
    }

    // Unloading the module must not leave a callback pointing into it.
    ~ThreadExit() {
        tearingDown.store(true, std::memory_order_release);
        if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
    }

    static inline std::atomic<bool> tearingDown{false};
    static inline std::once_flag once;
    static inline DWORD index = FLS_OUT_OF_INDEXES;
    static ThreadExit instance;
};

ThreadBlockCache::ThreadExit ThreadBlockCache::ThreadExit::instance;

void* ThreadBlockCache::TakeBlock(unsigned sizeClass) {
    ThreadPools* pools = threadPools;
    if (!pools) [[unlikely]] {
        pools = SetUpThread();
        if (!pools) return nullptr;
    }
    ThreadBlockCache& cache = pools->caches[sizeClass];
    void* block = nullptr;
    if (PoolChunk* chunk = cache.current) [[likely]]
        block = chunk->PopLocal();
    if (!block) [[unlikely]] {
        block = cache.Refill();
        if (!block) return nullptr;
    }
    pools->Count(static_cast<int64_t>(kPooledBlockSizes[sizeClass]));
    return block;
}

void ThreadBlockCache::ReturnBlock(void* block, unsigned sizeClass) {
    PoolChunk* chunk = PoolChunk::Of(block);
    ThreadPools* pools = threadPools;
    // A thread owns exactly its current chunks, so this is the "owner is the caller" test
    // without asking the system for the thread id.
    if (pools && pools->caches[sizeClass].current == chunk) [[likely]]
        chunk->PushLocal(block);
    else
        chunk->PushRemote(block);
    const auto bytes = static_cast<int64_t>(kPooledBlockSizes[sizeClass]);
    if (pools)
        pools->Count(-bytes);
    else
        StatisticsRecord().Subtract(bytes);
}

void ThreadBlockCache::CountCallingThread() {
    if (ThreadPools* pools = threadPools) pools->Flush();
}

ThreadBlockCache* ThreadBlockCache::CallingThreadCaches() { return threadPools ? threadPools->caches : nullptr; }

ThreadBlockCache::ThreadPools* ThreadBlockCache::SetUpThread() {
    auto* pools = new (std::nothrow) ThreadPools();
    if (!pools) return nullptr;
    RegionDirectory& directory = RegionDirectory::Process();
    for (unsigned i = 0; i < kPooledSizeCount; ++i) {
        pools->caches[i].blockSize = kPooledBlockSizes[i];
        pools->caches[i].directory = &directory;
    }
    // Without a slot the thread still works; its chunks just stay with it when it ends.
    DWORD index = ThreadExit::Index();
    if (index != FLS_OUT_OF_INDEXES) FlsSetValue(index, pools);
    threadPools = pools;
    return pools;
}

void* ThreadBlockCache::Refill() {
    // Blocks freed by other threads are reused only once the local list has run dry, and then
    // all at once.
    if (current && current->AdoptRemote()) return current->PopLocal();
    Release();
    PoolChunk* chunk = directory->TakeChunk(blockSize);
    chunk->SetOwner(GetCurrentThreadId());
    current = chunk;
    if (void* block = chunk->PopLocal()) return block;
    return chunk->AdoptRemote() ? chunk->PopLocal() : nullptr;
}

void ThreadBlockCache::Release() {
    if (!current) return;
    PoolChunk* chunk = current;
    current = nullptr;
    chunk->HandBack();
}

}  // namespace tarn
