#include "readers/pagestore/ReadPageStoreThumbnail.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "readers/pagestore/HzdDocument.h"
#include "readers/pagestore/RPageStore.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "readers/pagestore/ThumbnailLoading.h"

namespace {

constexpr int32_t kPlaceholderEdge = 64;
constexpr uint32_t kPlaceholderWhite = 0xFFFFFFFF;
constexpr uint32_t kPlaceholderGrey = 0xFFE0E0E0;

// "hzd" and a version byte that, taken as signed, is at most 1.
bool HasPageStoreMagic(IStream* stream) {
    uint8_t magic[4] = {};
    ULONG got = 0;
    if (FAILED(stream->Read(magic, sizeof magic, &got)) || got != sizeof magic) return false;
    return std::memcmp(magic, "hzd", 3) == 0 && static_cast<int8_t>(magic[3]) <= 1;
}

// Opens the document behind `stream` and runs `load` on it. A runtime error on the way shows
// the message box, sets `failed` and gives false.
template <class Load>
bool ReadDocument(IStream* stream, Load load, bool& failed) {
    failed = false;
    if (!stream || !HasPageStoreMagic(stream)) return false;
    try {
        // Everything below is destroyed, and every page given back, before the handler runs.
        pagestore::SeekPageMapper mapper(stream);
        tarn::HzdDocument document(pagestore::OpenPageStore(std::move(mapper)));
        int width = 0, height = 0;
        return load(document, width, height);
    } catch (const std::runtime_error&) {
    }
    MessageBoxW(nullptr, WSTR("throw error!"), WSTR("xxx"), MB_ICONINFORMATION);
    failed = true;
    return false;
}

}  // namespace

bool ReadPageStoreThumbnail(tarn::CImage32& image, IStream* stream) {
    bool failed;
    bool result = ReadDocument(
        stream,
        [&](tarn::HzdDocument& document, int& width, int& height) {
            return tarn::LoadThumbnail(image, document, width, height);
        },
        failed);
    if (failed) {
        image.Resize(kPlaceholderEdge, kPlaceholderEdge);
        image.FillChecker(kPlaceholderEdge, kPlaceholderEdge, kPlaceholderWhite, kPlaceholderGrey);
    }
    return result;
}

bool ReadPageStorePreview(tarn::PreviewSink& sink, IStream* stream) {
    bool failed;
    return ReadDocument(
        stream,
        [&](tarn::HzdDocument& document, int& width, int& height) {
            return tarn::LoadPreview(sink, document, width, height) != tarn::PreviewResult::NoPreview;
        },
        failed);
}
