#include "readers/pagestore/PushWholeBlobBands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "readers/pagestore/CodedBlobDecoder.h"

namespace pagestore {

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
}  // namespace

tarn::PreviewOutcome PushWholeBlobBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId,
                                        BandWriter& out) {
    CodedBlobDecoder decoder(store, pool, blobId);
    if (!decoder.Prepare()) return tarn::PreviewOutcome::Undecodable;
    const uint64_t bound = decoder.OutputBound();
    std::unique_ptr<uint8_t, FreeDeleter> block(static_cast<uint8_t*>(std::malloc(bound ? bound : 1)));
    uint64_t produced = 0;
    if (!block || !decoder.DecodeInto(block.get(), bound, produced)) return tarn::PreviewOutcome::Undecodable;
    decoder.Close();
    if (!out.Begin()) return out.Refusal();
    for (uint64_t done = 0, wanted = std::min(produced, out.Needed()); done < wanted;) {
        uint64_t capacity;
        uint8_t* dst = out.Space(capacity);
        const uint64_t n = std::min(capacity, wanted - done);
        std::memcpy(dst, block.get() + done, n);
        done += n;
        out.Commit(n);
    }
    out.Finish();
    out.Done();
    return tarn::PreviewOutcome::Delivered;
}

}  // namespace pagestore
