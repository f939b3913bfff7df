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

// Largest preview edge accepted; 16384 x 16384 x 4 bytes still fits the 32-bit byte count.
constexpr uint32_t kMaxPreviewEdge = 16384;

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
// no preview, when the preview is empty or larger than kMaxPreviewEdge on a side, or when the
// image cannot take its size; true with the image untouched when the pixel blob cannot be
// decoded (unknown coding, no memory, zstd error, or fewer bytes than width x height x 4);
// true with every pixel written otherwise. `width` and `height` report the stored size. A
// malformed pixel blob raises tarn::FException.
bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height);

}  // namespace tarn
