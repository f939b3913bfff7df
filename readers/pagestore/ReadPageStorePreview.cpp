#include "readers/pagestore/ReadPageStorePreview.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "readers/pagestore/HzdDocument.h"
#include "readers/pagestore/LoadPreview.h"
#include "readers/pagestore/RPageStore.h"
#include "readers/pagestore/SeekPageMapper.h"

namespace {

// "hzd" and a version byte that, taken as signed, is at most 1.
bool HasPageStoreMagic(IStream* stream) {
    uint8_t magic[4] = {};
    ULONG got = 0;
    if (FAILED(stream->Read(magic, sizeof magic, &got)) || got != sizeof magic) return false;
    return std::memcmp(magic, "hzd", 3) == 0 && static_cast<int8_t>(magic[3]) <= 1;
}

}  // namespace

tarn::PreviewOutcome ReadPageStorePreview(tarn::PreviewSink& sink, IStream* stream) {
    if (!stream || !HasPageStoreMagic(stream)) return tarn::PreviewOutcome::NotThisKind;
    try {
        // Everything below is destroyed, and every page given back, before the handler runs.
        pagestore::SeekPageMapper mapper(stream);
        tarn::HzdDocument document(pagestore::OpenPageStore(std::move(mapper)));
        int width = 0, height = 0;
        return tarn::LoadPreview(sink, document, width, height);
    } catch (const std::runtime_error&) {
    }
    MessageBoxW(nullptr, WSTR("throw error!"), WSTR("xxx"), MB_ICONINFORMATION);
    return tarn::PreviewOutcome::Malformed;
}
