#include "memory/ThreadBlockCache.h"

#include <mutex>
#include <new>

#include "memory/PoolGeometry.h"
#include "memory/RegionDirectory.h"
#include "platform/Platform.h"

namespace tarn {

namespace {

// The calling thread's three caches, indexed by size class; null before its first pooled
// allocation and again once its exit callback has run.
constinit thread_local ThreadBlockCache* threadCaches = nullptr;

}  // namespace

// Thread-exit clean-up through fiber-local storage, whose callback runs when a thread ends
// (Windows runs it for DLLs without thread notifications too).
struct ThreadBlockCache::ThreadExit {
    static void WINAPI Callback(PVOID value) {
        auto* caches = static_cast<ThreadBlockCache*>(value);
        for (unsigned i = 0; i < kPooledSizeCount; ++i) caches[i].Release();
        // The callback may run on another thread (Windows' FlsFree); only the value is ours.
        if (threadCaches == caches) threadCaches = nullptr;
        delete[] caches;
    }

    static DWORD Index() {
        std::call_once(once, [] { index = FlsAlloc(&Callback); });
        return index;
    }

    // Unloading the module must not leave a callback pointing into it.
    ~ThreadExit() {
        if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
    }

    static inline std::once_flag once;
    static inline DWORD index = FLS_OUT_OF_INDEXES;
    static ThreadExit instance;
};

ThreadBlockCache::ThreadExit ThreadBlockCache::ThreadExit::instance;

void* ThreadBlockCache::TakeBlock(unsigned sizeClass) {
    ThreadBlockCache* caches = threadCaches;
    if (!caches) [[unlikely]] {
        caches = SetUpThread();
        if (!caches) return nullptr;
    }
    ThreadBlockCache& cache = caches[sizeClass];
    if (PoolChunk* chunk = cache.current) [[likely]] {
        if (void* block = chunk->PopLocal()) [[likely]]
            return block;
    }
    return cache.Refill();
}

void ThreadBlockCache::ReturnBlock(void* block, unsigned sizeClass) {
    PoolChunk* chunk = PoolChunk::Of(block);
    ThreadBlockCache* caches = threadCaches;
    // A thread owns exactly its current chunks, so this is the "owner is the caller" test
    // without asking the system for the thread id.
    if (caches && caches[sizeClass].current == chunk) [[likely]]
        chunk->PushLocal(block);
    else
        chunk->PushRemote(block);
}

ThreadBlockCache* ThreadBlockCache::CallingThreadCaches() { return threadCaches; }

ThreadBlockCache* ThreadBlockCache::SetUpThread() {
    auto* caches = new (std::nothrow) ThreadBlockCache[kPooledSizeCount];
    if (!caches) return nullptr;
    RegionDirectory& directory = RegionDirectory::Process();
    for (unsigned i = 0; i < kPooledSizeCount; ++i) {
        caches[i].blockSize = kPooledBlockSizes[i];
        caches[i].directory = &directory;
    }
    // Without a slot the thread still works; its chunks just stay with it when it ends.
    DWORD index = ThreadExit::Index();
    if (index != FLS_OUT_OF_INDEXES) FlsSetValue(index, caches);
    threadCaches = caches;
    return caches;
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
