// Reading a page-store document's metadata and stored preview into an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/CImage32.h"
#include "image/PreviewSink.h"
#include "readers/pagestore/HzdDocument.h"
#include "readers/schema/DocumentSchema.h"

namespace tarn {

// Largest preview byte count (width x height x 4) accepted: the count must fit in 31 bits.
constexpr uint64_t kMaxPreviewBytes = 0x7FFFFFFF;

// Whether a stored preview of w x h can be read: no zero side, and a byte count in 31 bits.
inline bool PreviewSizeAccepted(uint32_t w, uint32_t h) {
    return w != 0 && h != 0 && uint64_t{w} * h * 4 <= kMaxPreviewBytes;
}

struct FreeBlock {
    void operator()(uint8_t* p) const { std::free(p); }
};

// Blob 0, read whole and verified as a Document buffer.
struct RootTable {
    std::unique_ptr<uint8_t, FreeBlock> buffer;
    size_t size = 0;
    const hzd::Document* document = nullptr;
};

// Raises tarn::HZDError ("Invalid nextVidx: 0x"..., "Fail to alloc", "Wrong binary format").
RootTable ReadRootTable(HzdDocument& document);

// What reading a stored preview into a sink came to.
enum class PreviewResult {
    NoPreview,  // metadata unreadable, no thumbnail field, a size PreviewSizeAccepted refuses,
                // or the sink refused Begin
    Untouched,  // the pixel blob cannot be decoded (unknown coding, no memory, zstd error):
                // the sink has nothing (Discard was called if anything had started)
    Delivered,  // every row delivered: the decoded bytes, 0 for pixels a short blob misses
};

// Pushes the stored preview into `sink` band by band. `width` and `height` report the stored
// size. A malformed pixel blob raises tarn::FException.
PreviewResult LoadPreview(PreviewSink& sink, HzdDocument& document, int& width, int& height);

// LoadPreview into `image`: false for NoPreview or when the image cannot take the preview's
// size; true with the image untouched for Untouched; true with every pixel written otherwise.
bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height);

}  // namespace tarn
