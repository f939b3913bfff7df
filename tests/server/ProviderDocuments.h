// Generated page-store documents and request helpers shared by the provider's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/PreviewSink.h"
#include "platform/Platform.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "server/ZavelThumbnailProvider.h"
#include "tests/support/DocumentWriter.h"

namespace provider_test {

struct Document {
    std::string what;
    testdoc::Bytes bytes;
};

// A preview of random pixels in one of a few alpha regimes (opaque, 0 or 255, any, opaque with
// rare translucent pixels), so uniform and mixed footprints both occur.
inline testdoc::PreviewImage RandomPreview(uint32_t w, uint32_t h, int alphaMode, std::mt19937& rng) {
    testdoc::PreviewImage p;
    p.width = w;
    p.height = h;
    p.pixels.resize(static_cast<size_t>(w) * h);
    // Smooth rows with noise compress like a picture; pure noise would leave zstd nothing to do.
    const uint32_t base = static_cast<uint32_t>(rng());
    for (size_t k = 0; k < p.pixels.size(); ++k) {
        uint32_t v = base + static_cast<uint32_t>(k / 3) * 0x010203u + (rng() % 4 == 0 ? static_cast<uint32_t>(rng()) : 0);
        switch (alphaMode) {
            case 0: v |= 0xFF000000u; break;
            case 1: v = (v & 0x00FFFFFFu) | ((v >> 31) ? 0xFF000000u : 0u); break;
            case 2: break;
            default: v = (v & 0x00FFFFFFu) | (rng() % 50 == 0 ? 0x7F000000u : 0xFF000000u); break;
        }
        p.pixels[k] = v;
    }
    return p;
}

// Documents of random sizes (odd, 1-pixel sides, wide and tall), stored and zstd, inline and
// paged pixel blobs, mixed alpha; and ones the reader refuses or cannot decode.
inline std::vector<Document> GeneratedDocuments(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Document> docs;
    for (int i = 0; i < count; ++i) {
        uint32_t w, h;
        switch (i % 5) {
            case 0: w = 1 + rng() % 4, h = 1 + rng() % 300; break;
            case 1: w = 1 + rng() % 300, h = 1 + rng() % 4; break;
            case 2: w = 200 + rng() % 900, h = 200 + rng() % 900; break;
            default: w = 1 + rng() % 400, h = 1 + rng() % 400; break;
        }
        testdoc::Layout layout;
        layout.coding = i % 3 == 0 ? testdoc::kStored : testdoc::kZstd;
        // An inline blob must fit its page: larger ones are left to the writer.
        const bool small = static_cast<uint64_t>(w) * h * 4 < 16000;
        layout.pixelForm = i % 2 ? testdoc::BlobForm::Paged : small ? testdoc::BlobForm::Inline : testdoc::BlobForm::Auto;
        std::string what = std::to_string(w) + "x" + std::to_string(h) + (i % 3 == 0 ? " stored" : " zstd") +
                           (i % 2 ? " paged" : small ? " inline" : " auto") + " alpha " + std::to_string(i % 4);
        switch (i % 11) {
            case 7: layout.coding = 7, what += ", unknown coding"; break;
            case 9: layout.withThumbnail = false, what += ", no thumbnail"; break;
            case 10: layout.claimedHeight = h + 1, what += ", claims a row more"; break;
            default: break;
        }
        testdoc::Bytes bytes = testdoc::WritePageStoreDocument(RandomPreview(w, h, i % 4, rng), layout);
        if (i % 13 == 12) {
            bytes.resize(bytes.size() / 2);  // cut mid-file
            what += ", cut in half";
        }
        docs.push_back({what, std::move(bytes)});
    }
    return docs;
}

// The sizes a document is asked at: tiny, common, around and above the preview's own.
inline std::vector<UINT> SizesFor(const Document& doc, std::mt19937& rng) {
    std::vector<UINT> sizes{1, 2, 96, 256};
    sizes.push_back(3 + rng() % 700);
    (void)doc;
    return sizes;
}

struct Result {
    HRESULT hr = E_UNEXPECTED;
    std::vector<BYTE> bits;
};

// Reads the bitmap's bits and deletes it.
inline Result Collect(HRESULT hr, HBITMAP bitmap, UINT cx) {
    Result r;
    r.hr = hr;
    if (hr == S_OK && bitmap) {
        DIBSECTION ds{};
        GetObject(bitmap, sizeof ds, &ds);
        const BYTE* bits = static_cast<const BYTE*>(ds.dsBm.bmBits);
        r.bits.assign(bits, bits + static_cast<size_t>(cx) * cx * 4);
    }
    if (bitmap) DeleteObject(bitmap);
    return r;
}

// One request through a fresh provider with the given reader.
inline Result Request(const PreviewReader& reader, const testdoc::Bytes& bytes, UINT cx) {
    IStream* stream = testdoc::CreateMemoryStream(bytes);
    auto* provider = new ZavelThumbnailProvider(reader);
    provider->Initialize(stream, STGM_READ);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = static_cast<IThumbnailProvider*>(provider)->GetThumbnail(cx, &bitmap, &alpha);
    provider->Release();
    stream->Release();
    return Collect(hr, bitmap, cx);
}

// A preview reader over an image reader that hands the image over in bands of random heights,
// as a streaming source would.
inline PreviewReader RandomBands(ImageReader reader, uint32_t seed) {
    return [reader = std::move(reader), seed](tarn::PreviewSink& sink, IStream* stream) {
        tarn::CImage32 image;
        if (!reader(image, stream)) return tarn::PreviewOutcome::NoPreview;
        std::mt19937 rng(seed);
        if (!sink.Begin(image.Width(), image.Height())) return sink.Refusal();
        for (int32_t y = 0; y < image.Height();) {
            const int32_t n = std::min(image.Height() - y, 1 + static_cast<int32_t>(rng() % 40));
            sink.Rows(image.RowAddress(y), n);
            y += n;
        }
        return tarn::PreviewOutcome::Delivered;
    };
}

}  // namespace provider_test
