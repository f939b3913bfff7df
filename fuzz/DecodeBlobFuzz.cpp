// DecodeBlob over a page store built from the input.
// Input: i16 blob id (so negative and unmapped ids come up), then the file as page records
// (FuzzSupport.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "fuzz/FuzzSupport.h"
#include "readers/pagestore/DecodeBlob.h"
#include "readers/pagestore/RPageStore.h"
#include "readers/pagestore/SeekPageMapper.h"

namespace {

void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputCursor cursor(data, size);
    const int64_t blobId = static_cast<int16_t>(cursor.U16());
    const std::vector<uint8_t> file = fuzz::ExpandPageRecords(cursor);
    const size_t unreturned = pagestore::UnreturnedPageBufferCount();

    IStream* stream = fuzz::MemoryStream(file);
    Require(stream != nullptr, "no memory stream");
    try {
        auto store = pagestore::OpenPageStore(pagestore::SeekPageMapper(stream));
        pagestore::ZstdContextPool pool;
        uint8_t coding = 0;
        uint64_t decodedSize = 0, bufferSize = 0;
        uint8_t* buffer = nullptr;
        if (pagestore::DecodeBlob(*store, pool, blobId, coding, decodedSize, buffer, bufferSize)) {
            Require(buffer != nullptr, "true without a buffer");
            Require(bufferSize <= decodedSize, "more bytes handed out than declared");
            // Every byte handed out must lie inside the block (ASan checks the reads).
            uint8_t sum = 0;
            for (uint64_t i = 0; i < bufferSize; ++i) sum = static_cast<uint8_t>(sum + buffer[i]);
            volatile uint8_t sink = sum;
            (void)sink;
            std::free(buffer);
        } else {
            Require(buffer == nullptr, "false with a buffer handed out");
        }
    } catch (const std::runtime_error&) {
        // Malformed content and stream failures are reported this way.
    }
    stream->Release();
    Require(pagestore::LivePageBufferCount() == 0, "page buffers still live");
    Require(pagestore::UnreturnedPageBufferCount() == unreturned, "page buffers never given back");
    return 0;
}
