#include "memory/ThreadBlockCache.h"

#include <mutex>
#include <new>

#include "memory/PoolGeometry.h"
#include "memory/PoolRegion.h"
#include "memory/RegionDirectory.h"
#include "memory/SlimMutex.h"
#include "platform/Platform.h"

namespace tarn {

// Everything one thread keeps for the pools. The caches are touched only by that thread, or by
// the exit callback running for it; the counts are written by that thread alone and read by
// statistics readers; the links belong to the thread list.
struct ThreadBlockCache::ThreadPools {
    // Pool bytes this thread ever took and ever gave back. Only ever growing, so a reader that
    // sees the same sums twice knows no counter moved in between. Written with a plain load and
    // store (no locked instruction on the fast path); a return is stored with release, so a
    // reader that sees it also sees the take of the same block, whichever thread made it.
    alignas(64) std::atomic<int64_t> takenBytes{0};
    std::atomic<int64_t> returnedBytes{0};
    ThreadBlockCache caches[kPooledSizeCount];
    ThreadPools* previous = nullptr;
    ThreadPools* next = nullptr;
};

namespace {

struct Counts {
    int64_t taken = 0;
    int64_t returned = 0;
    bool operator==(const Counts&) const = default;
};

// Every thread that has taken a pool block, and the counts of those that have ended. Thread
// start and end and statistics readers take the mutex; the pool paths never do.
struct ThreadList {
    SlimMutex mutex;
    ThreadBlockCache::ThreadPools* head = nullptr;
    Counts retired;

    void Link(ThreadBlockCache::ThreadPools* pools) {
        pools->next = head;
        if (head) head->previous = pools;
        head = pools;
    }
    bool Contains(const ThreadBlockCache::ThreadPools* pools) const {
        for (auto* p = head; p; p = p->next)
            if (p == pools) return true;
        return false;
    }
    // Keeps the record's counts and unlinks it; the caller deletes it.
    void Retire(ThreadBlockCache::ThreadPools* pools) {
        retired.taken += pools->takenBytes.load(std::memory_order_relaxed);
        retired.returned += pools->returnedBytes.load(std::memory_order_relaxed);
        if (pools->previous) pools->previous->next = pools->next;
        else head = pools->next;
        if (pools->next) pools->next->previous = pools->previous;
    }
    // Returns first, then takes: every block whose return is seen has its take seen too, so
    // taken - returned never drops below the bytes live at the start of the walk.
    Counts Sum(const std::atomic<int64_t>& returnedByOthers) const {
        Counts sum = retired;
        sum.returned += returnedByOthers.load(std::memory_order_acquire);
        for (auto* p = head; p; p = p->next) sum.returned += p->returnedBytes.load(std::memory_order_acquire);
        for (auto* p = head; p; p = p->next) sum.taken += p->takenBytes.load(std::memory_order_relaxed);
        return sum;
    }
    // Exact whenever no thread uses the pools meanwhile (an unload).
    bool AnyBlockLive(const std::atomic<int64_t>& returnedByOthers) const {
        const Counts sum = Sum(returnedByOthers);
        return sum.taken != sum.returned;
    }
};

// Made on first use (a static constructor may allocate) and never destroyed: nothing in it
// has a destructor, so it outlives every static destructor, and an unload frees its contents.
ThreadList& Threads() {
    static ThreadList list;
    return list;
}
// Pool bytes given back by threads that never took one (and so have no record).
constinit std::atomic<int64_t> returnedWithoutRecord{0};

// The calling thread's pool state; null before its first pooled allocation and again once its
// exit callback has run.
constinit thread_local ThreadBlockCache::ThreadPools* threadPools = nullptr;

void Bump(std::atomic<int64_t>& counter, int64_t bytes, std::memory_order order) {
    counter.store(counter.load(std::memory_order_relaxed) + bytes, order);
}

}  // namespace

// Thread-exit clean-up through fiber-local storage, whose callback runs when a thread ends
// (Windows runs it for DLLs without thread notifications too).
struct ThreadBlockCache::ThreadExit {
    static void WINAPI Callback(PVOID value) {
        // At process exit (teardown), Windows calls this for threads that were killed and may
        // hold locks forever; at an unload, for every thread, while the records are about to
        // be freed whole. Take no lock, touch nothing.
        if (tearingDown.load(std::memory_order_acquire) || releasingOnThisThread) return;
        auto* pools = static_cast<ThreadPools*>(value);
        ThreadList& threads = Threads();
        std::lock_guard<SlimMutex> lock(threads.mutex);
        // A record no longer listed was freed by an unload that ran first; held under the lock
        // so an unload cannot take the regions away while chunks go back to them.
        if (!threads.Contains(pools)) return;
        for (ThreadBlockCache& cache : pools->caches) cache.Release();
        threads.Retire(pools);
        // The callback may run on another thread (Windows' FlsFree); only the value is ours.
        if (threadPools == pools) threadPools = nullptr;
        delete pools;
    }

    // Made on first use and again after an unload freed it. Fls calls are made under no lock
    // of the pools: the system runs the callbacks under its own lock, and they take ours.
    static DWORD Index() {
        DWORD value = index.load(std::memory_order_acquire);
        if (value != FLS_OUT_OF_INDEXES) return value;
        std::lock_guard<SlimMutex> lock(IndexMutex());
        value = index.load(std::memory_order_relaxed);
        if (value == FLS_OUT_OF_INDEXES) {
            value = FlsAlloc(&Callback);
            index.store(value, std::memory_order_release);
        }
        return value;
    }

    // No lock: at process exit a killed thread may hold any of ours.
    static void Free() {
        const DWORD value = index.exchange(FLS_OUT_OF_INDEXES, std::memory_order_acq_rel);
        if (value != FLS_OUT_OF_INDEXES) FlsFree(value);
    }

    // Unloading the module must not leave a callback pointing into it.
    ~ThreadExit() {
        tearingDown.store(true, std::memory_order_release);
        Free();
    }

    static inline constinit std::atomic<bool> tearingDown{false};
    static inline constinit thread_local bool releasingOnThisThread = false;
    static SlimMutex& IndexMutex() {
        static SlimMutex mutex;
        return mutex;
    }
    static inline constinit std::atomic<DWORD> index{FLS_OUT_OF_INDEXES};
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
    Bump(pools->takenBytes, static_cast<int64_t>(kPooledBlockSizes[sizeClass]), std::memory_order_relaxed);
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
    if (pools) [[likely]]
        Bump(pools->returnedBytes, bytes, std::memory_order_release);
    else
        returnedWithoutRecord.fetch_add(bytes, std::memory_order_release);
}

int64_t ThreadBlockCache::LiveBytesWith(const std::atomic<int64_t>& booked) {
    // Double collect: sums, booked, booked, sums. Equal sums of only-growing counters mean no
    // counter moved between the two walks, so at the first read of `booked` every counter held
    // the value read. Under constant churn that may not happen; the ordered walk alone is still
    // never negative and never misses a live block.
    constexpr int kAttempts = 16;
    ThreadList& threads = Threads();
    std::lock_guard<SlimMutex> lock(threads.mutex);
    Counts first = threads.Sum(returnedWithoutRecord);
    int64_t bookedFirst = booked.load(std::memory_order_acquire);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int64_t bookedSecond = booked.load(std::memory_order_acquire);
        const Counts second = threads.Sum(returnedWithoutRecord);
        if (bookedSecond == bookedFirst && second == first) break;
        first = second;
        bookedFirst = booked.load(std::memory_order_acquire);
    }
    return bookedFirst + first.taken - first.returned;
}

bool ThreadBlockCache::ReleaseAllOnUnload() {
    ThreadList& threads = Threads();
    {
        std::lock_guard<SlimMutex> lock(threads.mutex);
        if (threads.AnyBlockLive(returnedWithoutRecord)) return false;
    }
    // Windows runs the callback here, on this thread, for every thread that still has a
    // value; those records are freed below, so the callbacks do nothing.
    ThreadExit::releasingOnThisThread = true;
    ThreadExit::Free();
    ThreadExit::releasingOnThisThread = false;
    {
        std::lock_guard<SlimMutex> lock(threads.mutex);
        // Only a caller that broke the rule above gets here with a block out; leaving the
        // regions mapped then costs memory, not a crash.
        if (threads.AnyBlockLive(returnedWithoutRecord)) return false;
        // No block is out, so the chunks these caches hold go away with their regions.
        while (ThreadPools* pools = threads.head) {
            threads.Retire(pools);
            delete pools;
        }
        threadPools = nullptr;
        RegionDirectory::ReleaseProcess();
    }
    return true;
}

size_t ThreadBlockCache::ThreadRecordCount() {
    ThreadList& threads = Threads();
    std::lock_guard<SlimMutex> lock(threads.mutex);
    size_t count = 0;
    for (auto* p = threads.head; p; p = p->next) ++count;
    return count;
}

bool ThreadBlockCache::HasThreadExitSlot() {
    return ThreadExit::index.load(std::memory_order_acquire) != FLS_OUT_OF_INDEXES;
}

ThreadBlockCache* ThreadBlockCache::CallingThreadCaches() { return threadPools ? threadPools->caches : nullptr; }

ThreadBlockCache::ThreadPools* ThreadBlockCache::SetUpThread() {
    RegionDirectory& directory = RegionDirectory::Process();
    auto* pools = new (std::nothrow) ThreadPools();
    if (!pools) return nullptr;
    for (unsigned i = 0; i < kPooledSizeCount; ++i) {
        pools->caches[i].blockSize = kPooledBlockSizes[i];
        pools->caches[i].directory = &directory;
    }
    {
        ThreadList& threads = Threads();
        std::lock_guard<SlimMutex> lock(threads.mutex);
        threads.Link(pools);
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
    PoolRegion::HandBack(chunk);
}

}  // namespace tarn
