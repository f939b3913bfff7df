// Whole page-store documents from an image: the metadata table (blob 0, a FlatBuffers
// Document made with the generated builder) and the preview's pixel blob, stored (0xFF) or
// zstd-compressed (3).
//
//   testdoc::PreviewImage preview = testdoc::MakeTestPattern(256, 192);
//   std::vector<uint8_t> kwb = testdoc::WritePageStoreDocument(preview);   // zstd, defaults
//   testdoc::Layout layout;
//   layout.coding = testdoc::kStored;                                      // or any byte
//   layout.pixelForm = testdoc::BlobForm::Paged;
//   std::vector<uint8_t> other = testdoc::WritePageStoreDocument(preview, layout);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/PageStoreWriter.h"

namespace testdoc {

constexpr uint8_t kStored = 0xFF;
constexpr uint8_t kZstd = 3;

// Pixels as 0xAARRGGBB words (bytes B, G, R, A in memory), rows top to bottom.
struct PreviewImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
};

// A deterministic picture with smooth gradients, shapes and some noise: compresses like a
// painting's preview rather than like a flat colour.
PreviewImage MakeTestPattern(uint32_t width, uint32_t height, uint32_t seed = 1);

// The ThumbnailRef a metadata buffer carries.
struct ThumbnailFields {
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t blobId = 0;
};

// A Document buffer: `thumbnail` when given; with `richContent` also strings, entries, an
// element list with items, unions and segments, so the verifier has the whole schema to walk.
Bytes MetadataBuffer(std::optional<ThumbnailFields> thumbnail, bool richContent = true);

// Coded blob contents.
Bytes StoredCoding(const Bytes& decoded);
// `declaredSize` overrides the decoded size written in front of the frame.
Bytes ZstdCoding(const Bytes& decoded, int level = 3, std::optional<uint64_t> declaredSize = std::nullopt);
Bytes PixelBytes(const PreviewImage& image);

// zstd frames written with the streaming compressor's options.
struct FrameOptions {
    int level = 3;
    bool checksum = false;
    bool contentSize = true;   // the frame header states the decoded size
    int windowLog = 0;         // 0: the level's own
    int frames = 1;            // the bytes split over this many frames
    bool skippableFirst = false;  // a skippable frame in front
};
Bytes ZstdFrames(const Bytes& decoded, const FrameOptions& options);
// One frame of `size` zero bytes (a multiple of 128 KiB) in RLE blocks: 4 bytes per 128 KiB.
// `statesSize`: the header carries the content size; the window is 1 MiB either way.
Bytes ZeroRleFrame(uint64_t size, bool statesSize);
// A frame of `size` zero bytes that does not state its size, damaged in its last block: RLE
// blocks of 128 KiB up to the last one, a compressed block whose bit stream is broken, so that
// zstd decodes everything before it and then reports corruption. Window 1 MiB.
Bytes DamagedZeroFrame(uint64_t size);
// A coded zstd blob: coding 3, the declared size, then `frames` as they are.
Bytes ZstdBlob(const Bytes& frames, uint64_t declaredSize);

struct Layout {
    uint8_t coding = kZstd;          // kStored, kZstd, or any other byte (then stored payload)
    int zstdLevel = 3;
    std::optional<uint64_t> declaredSize;  // zstd: decoded size to claim
    std::optional<Bytes> pixelBlob;  // the coded pixel blob as it is (coding and declaredSize unused)
    bool withThumbnail = true;       // false: the Document has no thumbnail field
    bool richMetadata = true;
    // The ThumbnailRef size to claim, when it should differ from the image's.
    std::optional<uint32_t> claimedWidth, claimedHeight;
    int64_t pixelBlobVidx = 0;       // 0: the next free virtual index
    int64_t pagesFrom = 1;           // where data and index pages start
    BlobForm rootForm = BlobForm::Auto;
    BlobForm pixelForm = BlobForm::Auto;
    PageStoreWriter::Options store;
};

struct DocumentInfo {
    int64_t pixelBlobVidx = 0;
    PageFile file;
    PageStoreWriter writer;  // for FidxOf and MapPageFidx
};

// The document as a PageFile, with where its blobs landed.
DocumentInfo BuildPageStoreDocument(const PreviewImage& image, const Layout& layout = {});
// The document's bytes.
Bytes WritePageStoreDocument(const PreviewImage& image, const Layout& layout = {});

}  // namespace testdoc
