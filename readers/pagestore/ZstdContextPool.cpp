#include "readers/pagestore/ZstdContextPool.h"

#include <new>

#include "memory/CriticalSectionGuard.h"

namespace pagestore {

namespace {
using Lock = tarn::CriticalSectionGuard;
}  // namespace

ZstdContextPool::ZstdContextPool(CreateContextFunction create) : create_(create) {
    InitializeCriticalSectionAndSpinCount(&lock_, 1024);
}

ZstdContextPool::~ZstdContextPool() {
    for (ZSTD_DCtx* context : all_) ZSTD_freeDCtx(context);
    DeleteCriticalSection(&lock_);
}

size_t ZstdContextPool::ContextCount() {
    Lock lock(lock_);
    return all_.size();
}

ZSTD_DCtx* ZstdContextPool::Acquire() {
    {
        Lock lock(lock_);
        if (!idle_.empty()) {
            ZSTD_DCtx* context = idle_.front();
            idle_.erase(idle_.begin());
            return context;
        }
    }
    ZSTD_DCtx* context = create_();
    if (!context) return nullptr;
    Lock lock(lock_);
    try {
        // Reserving here keeps Return from ever needing memory.
        all_.reserve(all_.size() + 1);
        idle_.reserve(all_.size() + 1);
    } catch (const std::bad_alloc&) {
        ZSTD_freeDCtx(context);
        return nullptr;
    }
    all_.push_back(context);
    return context;
}

void ZstdContextPool::Return(ZSTD_DCtx* context) noexcept {
    Lock lock(lock_);
    idle_.push_back(context);
}

bool ZstdContextPool::Decompress(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstCapacity,
                                 size_t& produced) {
    produced = 0;
    ZSTD_DCtx* context = Acquire();
    if (!context) return false;
    size_t result = ZSTD_decompressDCtx(context, dst, dstCapacity, src, srcSize);
    Return(context);
    if (ZSTD_isError(result)) return false;
    produced = result;
    return true;
}

bool ZstdContextPool::Decompress(const uint8_t* src, int srcSize, uint8_t* dst, int dstCapacity) {
    if (srcSize < 0 || dstCapacity < 0) return false;
    size_t produced;
    return Decompress(src, static_cast<size_t>(srcSize), dst, static_cast<size_t>(dstCapacity), produced);
}

}  // namespace pagestore
