#include "readers/pagestore/PushPreviewBands.h"

#include "readers/pagestore/BandWriter.h"
#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/PushStoredBands.h"
#include "readers/pagestore/PushWholeBlobBands.h"
#include "readers/pagestore/PushZstdBands.h"

namespace pagestore {

tarn::PreviewOutcome PushPreviewBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId,
                                      uint32_t width, uint32_t height, tarn::PreviewSink& sink) {
    BandWriter out(sink, width, height);  // discards on every exit but success
    {
        CodedBlobDecoder decoder(store, pool, blobId);
        switch (decoder.Coding()) {
            case kCodingStored: return PushStoredBands(decoder, out);
            case kCodingZstd: break;
            default: return tarn::PreviewOutcome::Undecodable;
        }
        if (const auto streamed = PushZstdBands(decoder, pool, out)) return *streamed;
    }  // the streamed read's pages are given back before the blob is read again
    return PushWholeBlobBands(store, pool, blobId, out);
}

}  // namespace pagestore
