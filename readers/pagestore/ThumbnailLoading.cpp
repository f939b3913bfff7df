#include "readers/pagestore/ThumbnailLoading.h"

#include <algorithm>
#include <cstring>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/Errors.h"

namespace tarn {

namespace {
constexpr int64_t kRootBlob = 0;
}

RootTable ReadRootTable(HzdDocument& document) {
    pagestore::BlobReader reader(document.Store(), kRootBlob);
    uint64_t size = reader.BlobSize();
    // Sizes no Document buffer can have; refused before anything is allocated.
    if (size < hzd::kMinDocumentBytes || size > hzd::kMaxDocumentBytes) throw HZDError("Wrong binary format");
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

// A small image's size and pixels, kept so that it can be put back as it was.
class SavedImage {
public:
    bool Take(const CImage32& image) {
        width_ = image.Width();
        height_ = image.Height();
        if (int64_t(width_) * height_ > kMaxPixels) return false;
        ScopedPixelLock lock(image);
        for (int32_t y = 0, i = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) pixels_[i++] = image.GetPixel(x, y);
        return true;
    }
    void Restore(CImage32& image) const {
        if (!image.Resize(width_, height_) || image.Width() != width_ || image.Height() != height_) return;
        ScopedPixelLock lock(image);
        for (int32_t y = 0, i = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) image.SetPixel(x, y, pixels_[i++]);
    }

private:
    static constexpr int kMaxPixels = 64;
    int32_t width_ = 0, height_ = 0;
    uint32_t pixels_[kMaxPixels] = {};
};

// A failed resize leaves the image 1 x 1: only an image of the preview's size is written.
bool ResizeExactly(CImage32& image, uint32_t w, uint32_t h) {
    return image.Resize(static_cast<int32_t>(w), static_cast<int32_t>(h)) && image.Width() == static_cast<int32_t>(w) &&
           image.Height() == static_cast<int32_t>(h);
}

// Copies what the block holds and clears the rest, so no pixel is left uninitialised.
void CopyPixels(CImage32& image, const uint8_t* block, uint64_t blockBytes) {
    const size_t w = static_cast<size_t>(image.Width());
    const size_t h = static_cast<size_t>(image.Height());
    const size_t needed = w * h * 4;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(blockBytes, needed));
    ScopedPixelLock lock(image);
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

// Decodes the pixel blob into the image. The outcome is that of decoding into a heap block of
// its own and copying: a blob that cannot be decoded leaves the image as it was (true); pixels
// a short blob does not reach are 0. When the caller's image is small enough to put back and
// the decoded bytes cannot exceed the image, they land in the image directly, saving a block
// and a copy of the whole preview.
bool LoadPixels(CImage32& image, HzdDocument& document, int64_t blobId, uint32_t w, uint32_t h) {
    pagestore::CodedBlobDecoder decoder(document.Store(), document.Pool(), blobId);
    if (!decoder.Prepare()) return true;
    const uint64_t needed = uint64_t(w) * h * 4;
    const uint64_t bound = decoder.OutputBound();
    uint64_t produced = 0;

    SavedImage saved;
    bool direct = decoder.Coding() == pagestore::kCodingStored || bound <= needed;
    if (direct && saved.Take(image)) {
        if (!ResizeExactly(image, w, h)) return false;
        bool decoded;
        {
            ScopedPixelLock lock(image);
            auto* pixels = reinterpret_cast<uint8_t*>(image.Pixels());
            decoded = pixels && decoder.DecodeInto(pixels, std::min(bound, needed), produced);
            if (decoded) std::memset(pixels + produced, 0, needed - produced);
        }
        if (decoded) return true;
        saved.Restore(image);
        return true;
    }

    std::unique_ptr<uint8_t, FreeBlock> block(static_cast<uint8_t*>(std::malloc(bound ? bound : 1)));
    if (!block) return true;
    if (!decoder.DecodeInto(block.get(), bound, produced)) return true;
    decoder.Close();
    if (!ResizeExactly(image, w, h)) return false;
    CopyPixels(image, block.get(), produced);
    return true;
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
    if (!PreviewSizeAccepted(w, h)) return false;
    try {
        return LoadPixels(image, document, static_cast<int64_t>(blobId), w, h);
    } catch (const HZDError& e) {
        throw FException(e.what(), HzdDocument::kMalformedBlobCode);
    }
}

}  // namespace tarn
