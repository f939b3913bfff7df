// Reading a page-store document's metadata and stored preview into an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/CImage32.h"
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

// Fills `image` with the stored preview. False when the metadata cannot be read, when it names
// no preview, when PreviewSizeAccepted refuses its size, or when the image cannot take its
// size; true with the image untouched when the pixel blob cannot be decoded (unknown coding,
// no memory, zstd error); true with every pixel written otherwise: the decoded bytes, and 0
// for the pixels a short blob does not reach. `width` and `height` report the stored size. A
// malformed pixel blob raises tarn::FException.
bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height);

}  // namespace tarn
