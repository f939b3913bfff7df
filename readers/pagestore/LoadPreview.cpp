#include "readers/pagestore/LoadPreview.h"

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/PushPreviewBands.h"
#include "readers/pagestore/ReadRootTable.h"

namespace tarn {

PreviewOutcome LoadPreview(PreviewSink& sink, HzdDocument& document, int& width, int& height) {
    uint32_t w, h;
    uint64_t blobId;
    {
        RootTable root;  // freed before the pixels are read
        try {
            root = ReadRootTable(document);
        } catch (const HZDError&) {
            return PreviewOutcome::NoPreview;
        }
        const hzd::ThumbnailRef* thumbnail = root.document->thumbnail();
        // No preview stored: say so rather than hand back an empty square.
        if (!thumbnail) return PreviewOutcome::NoPreview;
        w = thumbnail->width();
        h = thumbnail->height();
        blobId = thumbnail->blob_id();
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    if (!PreviewSizeAccepted(w, h)) return PreviewOutcome::NoPreview;
    try {
        return pagestore::PushPreviewBands(document.Store(), document.Pool(), static_cast<int64_t>(blobId), w, h,
                                           sink);
    } catch (const HZDError& e) {
        throw FException(e.what(), HzdDocument::kMalformedBlobCode);
    }
}

}  // namespace tarn
