#include "readers/pagestore/ThumbnailLoading.h"

#include <algorithm>
#include <cstring>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/Errors.h"
#include "readers/pagestore/PreviewBandSource.h"

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
bool ResizeExactly(CImage32& image, int32_t w, int32_t h) {
    return image.Resize(w, h) && image.Width() == w && image.Height() == h;
}

// Fills a caller's image. A small image (the provider's fresh 1 x 1 one) takes the rows in
// place and is put back on Discard; a larger one is changed only once the read has succeeded,
// the rows going to an image of their own until then.
class ImageSink final : public pagestore::WholePreviewSink {
public:
    explicit ImageSink(CImage32& image) : image_(image) {}
    ~ImageSink() override { Unlock(); }

    bool Begin(int32_t width, int32_t height) override {
        if (saved_.Take(image_)) {
            if (!ResizeExactly(image_, width, height)) return false;
            target_ = &image_;
        } else {
            staging_ = std::make_unique<CImage32>();
            if (!ResizeExactly(*staging_, width, height)) {
                staging_.reset();
                return false;
            }
            target_ = staging_.get();
        }
        target_->LockPixels();
        row_ = 0;
        return true;
    }
    uint32_t* Destination() override { return target_ ? target_->Pixels() : nullptr; }
    void Rows(const uint32_t* rows, int32_t count) override {
        const int32_t width = target_->Width();
        for (int32_t i = 0; i < count; ++i, ++row_, rows += width) {
            uint32_t* row = target_->RowAddress(row_);
            if (row == rows) continue;  // decoded in place
            for (int32_t x = 0; x < width; ++x)
                if (uint32_t* p = target_->PixelAddress(x, row_)) *p = rows[x];
        }
    }
    void Discard() override {
        Unlock();
        if (staging_)
            staging_.reset();
        else
            saved_.Restore(image_);
    }
    // After every row was delivered: the caller's image holds the preview. False when it cannot
    // take the preview's size.
    bool Commit() {
        Unlock();
        if (!staging_) return true;
        const int32_t w = staging_->Width(), h = staging_->Height();
        if (!ResizeExactly(image_, w, h)) return false;
        ScopedPixelLock lock(image_, *staging_);
        if (image_.Pixels() && staging_->Pixels()) {
            std::memcpy(image_.Pixels(), staging_->Pixels(), size_t(w) * size_t(h) * 4);
            return true;
        }
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) image_.SetPixel(x, y, staging_->GetPixel(x, y));
        return true;
    }

private:
    void Unlock() {
        if (target_) target_->UnlockPixels();
        target_ = nullptr;
    }

    CImage32& image_;
    SavedImage saved_;
    std::unique_ptr<CImage32> staging_;
    CImage32* target_ = nullptr;  // pinned from Begin to Commit or Discard
    int32_t row_ = 0;
};

}  // namespace

PreviewResult LoadPreview(PreviewSink& sink, HzdDocument& document, int& width, int& height) {
    uint32_t w, h;
    uint64_t blobId;
    {
        RootTable root;
        try {
            root = ReadRootTable(document);
        } catch (const HZDError&) {
            return PreviewResult::NoPreview;
        }
        const hzd::ThumbnailRef* thumbnail = root.document->thumbnail();
        // No preview stored: say so rather than hand back an empty square.
        if (!thumbnail) return PreviewResult::NoPreview;
        w = thumbnail->width();
        h = thumbnail->height();
        blobId = thumbnail->blob_id();
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    if (!PreviewSizeAccepted(w, h)) return PreviewResult::NoPreview;
    try {
        switch (pagestore::PushPreviewBands(document.Store(), document.Pool(), static_cast<int64_t>(blobId), w, h,
                                            sink)) {
            case pagestore::PreviewPush::Delivered: return PreviewResult::Delivered;
            case pagestore::PreviewPush::Refused: return PreviewResult::NoPreview;
            case pagestore::PreviewPush::Undecodable: break;
        }
        return PreviewResult::Untouched;
    } catch (const HZDError& e) {
        throw FException(e.what(), HzdDocument::kMalformedBlobCode);
    }
}

bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height) {
    ImageSink sink(image);
    switch (LoadPreview(sink, document, width, height)) {
        case PreviewResult::Delivered: return sink.Commit();
        case PreviewResult::Untouched: return true;
        case PreviewResult::NoPreview: break;
    }
    return false;
}

}  // namespace tarn
