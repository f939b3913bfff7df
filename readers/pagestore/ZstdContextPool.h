// A pool of zstd decompression contexts shared by the decoding calls of one document.
//
// Locking: `all_` and `idle_` are touched only inside `lock_`; a context taken from the pool
// belongs to exactly one Decompress call until it is put back. Context creation and
// decompression run outside the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zstd.h>

#include "platform/Platform.h"

namespace pagestore {

class ZstdContextPool {
public:
    using CreateContextFunction = ZSTD_DCtx* (*)();

    // `create` makes new contexts (ZSTD_createDCtx unless a test replaces it).
    explicit ZstdContextPool(CreateContextFunction create = &ZSTD_createDCtx);
    ~ZstdContextPool();
    ZstdContextPool(const ZstdContextPool&) = delete;
    ZstdContextPool& operator=(const ZstdContextPool&) = delete;

    // True when zstd reports no error. Negative sizes and a context that cannot be created
    // count as failures.
    bool Decompress(const uint8_t* src, int srcSize, uint8_t* dst, int dstCapacity);
    // The same, also reporting how many bytes were produced.
    bool Decompress(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstCapacity, size_t& produced);

    size_t ContextCount();

    // A context held for one streaming decode and put back when the lease ends; null when
    // none can be created.
    class Lease {
    public:
        explicit Lease(ZstdContextPool& pool) : pool_(pool), context_(pool.Acquire()) {}
        ~Lease() {
            if (context_) pool_.Return(context_);
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ZSTD_DCtx* get() const { return context_; }

    private:
        ZstdContextPool& pool_;
        ZSTD_DCtx* context_;
    };

private:
    ZSTD_DCtx* Acquire();
    void Return(ZSTD_DCtx* context) noexcept;

    CreateContextFunction create_;
    std::vector<ZSTD_DCtx*> all_;   // creation order, owned
    std::vector<ZSTD_DCtx*> idle_;  // first in, first out; capacity kept >= all_.size()
    CRITICAL_SECTION lock_;
};

}  // namespace pagestore
