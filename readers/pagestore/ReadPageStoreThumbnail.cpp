#include "readers/pagestore/ReadPageStoreThumbnail.h"

#include "image/WholeImageSink.h"
#include "readers/pagestore/LoadPreview.h"

namespace {

constexpr int32_t kPlaceholderEdge = 64;
constexpr uint32_t kPlaceholderWhite = 0xFFFFFFFF;
constexpr uint32_t kPlaceholderGrey = 0xFFE0E0E0;

// The preview collected in `sink` becomes `image`'s once the read has succeeded.
bool TakePreview(tarn::PreviewOutcome outcome, tarn::WholeImageSink& sink, tarn::CImage32& image) {
    switch (outcome) {
        case tarn::PreviewOutcome::Delivered: return sink.MoveInto(image);
        case tarn::PreviewOutcome::Undecodable: return true;  // the image untouched
        case tarn::PreviewOutcome::Malformed:
            image.Resize(kPlaceholderEdge, kPlaceholderEdge);
            image.FillChecker(kPlaceholderEdge, kPlaceholderEdge, kPlaceholderWhite, kPlaceholderGrey);
            return false;
        case tarn::PreviewOutcome::NotThisKind:
        case tarn::PreviewOutcome::NoPreview:
        case tarn::PreviewOutcome::NoMemory: break;
    }
    return false;
}

}  // namespace

bool ReadPageStoreThumbnail(tarn::CImage32& image, IStream* stream) {
    tarn::WholeImageSink sink;
    return TakePreview(ReadPageStorePreview(sink, stream), sink, image);
}

namespace tarn {

bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height) {
    WholeImageSink sink;
    return TakePreview(LoadPreview(sink, document, width, height), sink, image);
}

}  // namespace tarn
