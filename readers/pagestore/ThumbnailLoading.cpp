#include "readers/pagestore/ThumbnailLoading.h"

#include <algorithm>
#include <cstring>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/Errors.h"

namespace tarn {

namespace {
constexpr int64_t kRootBlob = 0;
}

RootTable ReadRootTable(HzdDocument& document) {
    pagestore::BlobReader reader(document.Store(), kRootBlob);
    uint64_t size = reader.BlobSize();
    // Sizes no Document buffer can have; refused before anything is allocated.
    if (size < hzd::kMinDocumentBytes || size > hzd::kMaxDocumentBytes)
        throw HZDError("Wrong binary format");
    RootTable root;
    root.buffer.reset(static_cast<uint8_t*>(std::malloc(size)));
    if (!root.buffer) throw HZDError("Fail to alloc");
    root.size = static_cast<size_t>(size);
    reader.Read(root.buffer.get(), static_cast<int>(size));
    if (!hzd::VerifyDocumentBytes(root.buffer.get(), root.size)) throw HZDError("Wrong binary format");
    root.document = hzd::GetDocument(root.buffer.get());
    return root;
}

namespace {

// Copies what the blob holds and clears the rest, so no pixel is left uninitialised.
void CopyPixels(CImage32& image, const uint8_t* block, uint64_t blockBytes) {
    const size_t w = static_cast<size_t>(image.Width());
    const size_t h = static_cast<size_t>(image.Height());
    const size_t needed = w * h * 4;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(blockBytes, needed));
    if (uint32_t* pixels = image.Pixels()) {
        if (available) std::memcpy(pixels, block, available);
        std::memset(reinterpret_cast<uint8_t*>(pixels) + available, 0, needed - available);
        return;
    }
    // Pixel memory that is not one block: go through the image's own addressing.
    for (size_t i = 0; i < w * h; ++i) {
        uint32_t value = 0;
        if (i * 4 + 4 <= available) std::memcpy(&value, block + i * 4, 4);
        image.SetPixel(static_cast<int32_t>(i % w), static_cast<int32_t>(i / w), value);
    }
}

}  // namespace

bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height) {
    uint32_t w, h;
    uint64_t blobId;
    {
        RootTable root;
        try {
            root = ReadRootTable(document);
        } catch (const HZDError&) {
            return false;
        }
        const hzd::ThumbnailRef* thumbnail = root.document->thumbnail();
        // No preview stored: say so rather than hand back an empty square.
        if (!thumbnail) return false;
        w = thumbnail->width();
        h = thumbnail->height();
        blobId = thumbnail->blob_id();
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    if (w == 0 || h == 0 || w > kMaxPreviewEdge || h > kMaxPreviewEdge) return false;

    uint8_t coding = 0;
    uint64_t decodedSize = 0, blockBytes = 0;
    uint8_t* raw = nullptr;
    if (!document.DecodeBlob(static_cast<int64_t>(blobId), coding, decodedSize, raw, blockBytes)) return true;
    std::unique_ptr<uint8_t, FreeBlock> block(raw);

    // A failed resize leaves the image 1 x 1: only an image of the preview's size is written.
    if (!image.Resize(static_cast<int32_t>(w), static_cast<int32_t>(h)) ||
        image.Width() != static_cast<int32_t>(w) || image.Height() != static_cast<int32_t>(h))
        return false;
    CopyPixels(image, block.get(), blockBytes);
    return true;
}

}  // namespace tarn
