// The metadata verifier on raw buffers, then the thumbnail accessor on every buffer it accepts.
// Input: the buffer itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "readers/schema/DocumentSchema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader verifies a malloc block of exactly the blob's size; so does this.
    std::vector<uint8_t> buffer(data, data + size);
    if (!hzd::VerifyDocumentBytes(buffer.data(), buffer.size())) return 0;
    if (const hzd::ThumbnailRef* thumbnail = hzd::DocumentThumbnail(buffer.data())) {
        // The struct lies inside the buffer, 8-byte aligned from its start (ASan and UBSan
        // check the reads).
        volatile uint64_t sink = uint64_t{thumbnail->width()} + thumbnail->height() + thumbnail->blob_id();
        (void)sink;
        const auto* at = reinterpret_cast<const uint8_t*>(thumbnail);
        if (at < buffer.data() || at + sizeof *thumbnail > buffer.data() + buffer.size() ||
            (at - buffer.data()) % 8 != 0) {
            std::fprintf(stderr, "fuzz: thumbnail reference outside the buffer or misaligned\n");
            std::abort();
        }
    }
    return 0;
}
