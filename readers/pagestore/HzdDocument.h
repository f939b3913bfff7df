// One open page-store document: its page store and its pool of zstd contexts.
#pragma once

#include <cstdint>
#include <memory>

#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/ZstdContextPool.h"

namespace tarn {

class HzdDocument {
public:
    // The code of the FException that replaces a malformed pixel blob's HZDError.
    static constexpr int kMalformedBlobCode = 2;

    explicit HzdDocument(std::unique_ptr<pagestore::ReadablePageStore> store,
                         pagestore::ZstdContextPool::CreateContextFunction createContext = &ZSTD_createDCtx);
    HzdDocument(const HzdDocument&) = delete;
    HzdDocument& operator=(const HzdDocument&) = delete;

    // pagestore::DecodeBlob on this document's store and pool, except that a tarn::HZDError
    // leaves it as a tarn::FException with the same message and code 2.
    bool DecodeBlob(int64_t blobId, uint8_t& coding, uint64_t& decodedSize, uint8_t*& buffer,
                    uint64_t& bufferSize);

    pagestore::ReadablePageStore& Store() { return *store_; }
    pagestore::ZstdContextPool& Pool() { return pool_; }

private:
    // Declared in this order so that the pool goes first, then the store.
    std::unique_ptr<pagestore::ReadablePageStore> store_;
    pagestore::ZstdContextPool pool_;
};

}  // namespace tarn
