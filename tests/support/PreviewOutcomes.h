// What a page-store read comes to, taken the same way from three paths: the whole-blob
// reference (the pixel blob decoded into one block with DecodeBlob, ZSTD_decompressDCtx for
// zstd, then what of it the preview covers: how the reader worked before previews were
// streamed), ReadPageStorePreview through a collecting sink, and ReadPageStoreThumbnail into an
// image. Header-only, so that the fuzz build, which has no test libraries, can compare too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "image/CImage32.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"
#include "readers/pagestore/Errors.h"
#include "readers/pagestore/HzdDocument.h"
#include "readers/pagestore/RPageStore.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "readers/pagestore/LoadPreview.h"
#include "readers/pagestore/ReadRootTable.h"

namespace testdoc {

struct PreviewOutcome {
    enum Kind { NoPreview, Box, Untouched, Preview, TooLarge } kind = NoPreview;
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    std::string violation;  // how a sink was misused, if it was (not part of the comparison)

    bool operator==(const PreviewOutcome& o) const {
        return kind == o.kind && width == o.width && height == o.height && pixels == o.pixels;
    }
    bool operator!=(const PreviewOutcome& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& out, const PreviewOutcome& o) {
    static const char* const names[] = {"no preview", "message box", "untouched", "preview", "too large"};
    out << names[o.kind];
    if (o.kind == PreviewOutcome::Preview) {
        // Where the last non-zero pixel is tells two previews apart, short blobs included.
        size_t nonZero = 0;
        for (size_t i = 0; i < o.pixels.size(); ++i)
            if (o.pixels[i]) nonZero = i + 1;
        out << " " << o.width << " x " << o.height << ", last non-zero pixel " << nonZero;
    }
    if (!o.violation.empty()) out << " (" << o.violation << ")";
    return out;
}

namespace outcome_detail {

inline int& BoxCount() {
    static int count = 0;
    return count;
}
inline int CountBox(HWND, LPCWSTR, LPCWSTR, UINT) {
    ++BoxCount();
    return IDOK;
}

// Runs `read` with the message box counted instead of shown; true when it was shown.
template <class Read>
bool WithBoxCounted(Read read) {
    BoxCount() = 0;
    MessageBoxSink previous = SetMessageBoxSink(&CountBox);
    read();
    SetMessageBoxSink(previous);
    return BoxCount() > 0;
}

inline bool HasMagic(IStream* stream) {
    uint8_t magic[4] = {};
    ULONG got = 0;
    return SUCCEEDED(stream->Read(magic, 4, &got)) && got == 4 && std::memcmp(magic, "hzd", 3) == 0 &&
           static_cast<int8_t>(magic[3]) <= 1;
}

}  // namespace outcome_detail

// TooLarge, without decoding, for a preview of more than `maxPixels` pixels.
inline PreviewOutcome WholeBlobPreview(IStream* stream, uint64_t maxPixels = UINT64_MAX) {
    PreviewOutcome out;
    if (!outcome_detail::HasMagic(stream)) return out;
    try {
        pagestore::SeekPageMapper mapper(stream);
        tarn::HzdDocument document(pagestore::OpenPageStore(std::move(mapper)));
        uint32_t w, h;
        uint64_t blobId;
        {
            tarn::RootTable root;
            try {
                root = tarn::ReadRootTable(document);
            } catch (const tarn::HZDError&) {
                return out;
            }
            const hzd::ThumbnailRef* thumbnail = root.document->thumbnail();
            if (!thumbnail) return out;
            w = thumbnail->width(), h = thumbnail->height(), blobId = thumbnail->blob_id();
        }
        if (!tarn::PreviewSizeAccepted(w, h)) return out;
        if (uint64_t{w} * h > maxPixels) {
            out.kind = PreviewOutcome::TooLarge;
            return out;
        }
        uint8_t coding;
        uint64_t declared, size;
        uint8_t* block = nullptr;
        if (!document.DecodeBlob(static_cast<int64_t>(blobId), coding, declared, block, size)) {
            out.kind = PreviewOutcome::Untouched;
            return out;
        }
        out.kind = PreviewOutcome::Preview;
        out.width = w, out.height = h;
        out.pixels.assign(size_t{w} * h, 0);
        std::memcpy(out.pixels.data(), block, std::min<uint64_t>(size, uint64_t{w} * h * 4));
        std::free(block);
        return out;
    } catch (const std::runtime_error&) {
        out.kind = PreviewOutcome::Box;
        return out;
    }
}

// Keeps what ReadPageStorePreview pushes, and the first misuse of the sink's protocol.
class CollectingSink final : public tarn::PreviewSink {
public:
    bool Begin(int32_t width, int32_t height) override {
        if (live_) Violation("Begin twice");
        if (width < 1 || height < 1) Violation("an empty side");
        live_ = true;
        width_ = uint32_t(width), height_ = uint32_t(height);
        rows_ = 0;
        pixels_.clear();
        return true;
    }
    void Rows(const uint32_t* rows, int32_t count) override {
        if (!live_) return Violation("rows outside Begin");
        if (count < 1 || rows_ + uint32_t(count) > height_) return Violation("a band past the last row");
        pixels_.insert(pixels_.end(), rows, rows + size_t(count) * width_);
        rows_ += uint32_t(count);
        ++bands;
    }
    void Discard() override {
        if (!live_) Violation("Discard without Begin");
        live_ = false;
        pixels_.clear();
    }

    PreviewOutcome Result(tarn::PreviewOutcome outcome, bool boxShown) {
        // The reader's outcome must agree with what the sink saw.
        const bool result = outcome == tarn::PreviewOutcome::Delivered || outcome == tarn::PreviewOutcome::Undecodable;
        if ((outcome == tarn::PreviewOutcome::Malformed) != boxShown) Violation("the message box without Malformed");
        if (outcome == tarn::PreviewOutcome::Undecodable && live_) Violation("undecodable, yet rows stand");
        if (outcome == tarn::PreviewOutcome::Delivered && !live_) Violation("delivered without rows");
        PreviewOutcome out;
        if (!result) {
            if (live_) Violation("no preview, yet rows stand");
            out.kind = boxShown ? PreviewOutcome::Box : PreviewOutcome::NoPreview;
        } else if (boxShown) {
            Violation("true after the message box");
        } else if (!live_) {
            out.kind = PreviewOutcome::Untouched;
        } else {
            if (rows_ != height_) Violation("true before every row");
            out.kind = PreviewOutcome::Preview;
            out.width = width_, out.height = height_;
            out.pixels = pixels_;
        }
        out.violation = violation_;
        return out;
    }
    int bands = 0;

private:
    void Violation(const char* what) {
        if (violation_.empty()) violation_ = what;
    }

    bool live_ = false;
    uint32_t width_ = 0, height_ = 0, rows_ = 0;
    std::vector<uint32_t> pixels_;
    std::string violation_;
};

inline PreviewOutcome BandedPreview(IStream* stream, int* bands = nullptr) {
    CollectingSink sink;
    tarn::PreviewOutcome result = tarn::PreviewOutcome::NoPreview;
    const bool box = outcome_detail::WithBoxCounted([&] { result = ReadPageStorePreview(sink, stream); });
    if (bands) *bands = sink.bands;
    return sink.Result(result, box);
}

inline PreviewOutcome ImagePreview(IStream* stream) {
    constexpr uint32_t kSentinel = 0x12345678;
    tarn::CImage32 image;
    image.SetPixel(0, 0, kSentinel);
    bool result = false;
    const bool box = outcome_detail::WithBoxCounted([&] { result = ReadPageStoreThumbnail(image, stream); });
    PreviewOutcome out;
    if (!result) {
        out.kind = box ? PreviewOutcome::Box : PreviewOutcome::NoPreview;
    } else if (image.Width() == 1 && image.Height() == 1 && image.GetPixel(0, 0) == kSentinel) {
        out.kind = PreviewOutcome::Untouched;
    } else {
        out.kind = PreviewOutcome::Preview;
        out.width = uint32_t(image.Width()), out.height = uint32_t(image.Height());
        tarn::ScopedPixelLock lock(image);
        out.pixels.assign(image.Pixels(), image.Pixels() + size_t{out.width} * out.height);
    }
    return out;
}

}  // namespace testdoc
