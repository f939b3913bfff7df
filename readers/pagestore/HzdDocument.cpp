#include "readers/pagestore/HzdDocument.h"

#include "readers/pagestore/DecodeBlob.h"
#include "readers/pagestore/Errors.h"

namespace tarn {

HzdDocument::HzdDocument(std::unique_ptr<pagestore::ReadablePageStore> store,
                         pagestore::ZstdContextPool::CreateContextFunction createContext)
    : store_(std::move(store)), pool_(createContext) {}

bool HzdDocument::DecodeBlob(int64_t blobId, uint8_t& coding, uint64_t& decodedSize, uint8_t*& buffer,
                             uint64_t& bufferSize) {
    try {
        return pagestore::DecodeBlob(*store_, pool_, blobId, coding, decodedSize, buffer, bufferSize);
    } catch (const HZDError& e) {
        throw FException(e.what(), kMalformedBlobCode);
    }
}

}  // namespace tarn
