#include "readers/pagestore/PushStoredBands.h"

#include <algorithm>

namespace pagestore {

tarn::PreviewOutcome PushStoredBands(CodedBlobDecoder& decoder, BandWriter& out) {
    if (!out.Begin()) return out.Refusal();
    const uint64_t wanted = std::min(decoder.DeclaredSize(), out.Needed());
    for (uint64_t done = 0; done < wanted;) {
        uint64_t capacity;
        uint8_t* dst = out.Space(capacity);
        const uint64_t n = decoder.Read(dst, std::min(capacity, wanted - done));
        if (n == 0) break;
        done += n;
        out.Commit(n);
    }
    decoder.ReadToEnd();  // a failure here discards the rows delivered
    out.Finish();
    out.Done();
    return tarn::PreviewOutcome::Delivered;
}

}  // namespace pagestore
