// Small documents that claim a lot: the reader must not turn a few bytes of file into a large
// allocation or a long decode beyond the preview the document names.
#include <gtest/gtest.h>

#include <zstd.h>

#include <algorithm>
#include <optional>

#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "readers/pagestore/ZstdFrameBound.h"
#include "tests/readers/pagestore/PageStoreTestSupport.h"
#include "tests/support/DocumentWriter.h"

namespace {

using testdoc::Bytes;
using testdoc::PageStoreWriter;

constexpr uint32_t kSentinel = 0x12345678;

// Remembers the largest size it was ever asked to take.
class RecordingImage : public tarn::CImage32 {
public:
    bool Resize(int32_t w, int32_t h) override {
        largest = std::max<int64_t>(largest, int64_t(w) * h);
        return tarn::CImage32::Resize(w, h);
    }
    int64_t largest = 1;
};

// A zstd frame of empty raw blocks, with or without a content size: nothing produced, though
// zstd's own bound counts 128 KiB for every block (or the content size when there is one).
Bytes EmptyBlocksFrame(int blocks, std::optional<uint64_t> contentSize = std::nullopt) {
    Bytes f = {0x28, 0xB5, 0x2F, 0xFD, static_cast<uint8_t>(contentSize ? 0xC0 : 0x00), 0x38};
    for (int i = 0; contentSize && i < 8; ++i) f.push_back(static_cast<uint8_t>(*contentSize >> (8 * i)));
    for (int i = 0; i < blocks; ++i) f.insert(f.end(), {static_cast<uint8_t>(i + 1 == blocks), 0, 0});
    return f;
}

// A zstd frame of one RLE block: 4 bytes of blocks for `size` bytes of output.
Bytes RleFrame(uint32_t size) {
    const uint32_t header = size << 3 | 1u << 1 | 1u;
    return {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x38, static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8),
            static_cast<uint8_t>(header >> 16), 0xAB};
}

Bytes Repetitive(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>("pixel rows "[i % 11]);
    return b;
}

// A real zstd frame whose header does not state its content size.
Bytes UnsizedFrame(const Bytes& plain) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
    Bytes out(ZSTD_compressBound(plain.size()));
    out.resize(ZSTD_compress2(cctx, out.data(), out.size(), plain.data(), plain.size()));
    ZSTD_freeCCtx(cctx);
    EXPECT_GE(pagestore::ZstdOutputLimit(out.data(), out.size()), 1024u) << "frame cannot hold the preview";
    return out;
}

Bytes ZstdBlob(const Bytes& frame, uint64_t declared) {
    Bytes blob = {testdoc::kZstd};
    for (int i = 0; i < 8; ++i) blob.push_back(static_cast<uint8_t>(declared >> (8 * i)));
    blob.insert(blob.end(), frame.begin(), frame.end());
    return blob;
}

Bytes Document(const Bytes& pixelBlob, uint32_t width, uint32_t height) {
    PageStoreWriter writer;
    writer.SetPage(0, {});
    writer.WriteBlob(5, pixelBlob);
    writer.WriteBlob(0, testdoc::MetadataBuffer(testdoc::ThumbnailFields{width, height, 5}));
    return writer.Finish().Flatten();
}

class HostileDocument : public pagestore_test::PageBufferAccounting {};

// A preview larger than its pixel blob is read like any short blob: what the blob holds, then
// zeros. The image is the preview's size and nothing besides it is sized by the claim.
TEST_F(HostileDocument, PreviewLargerThanItsPixelBlobGetsWhatTheBlobHolds) {
    const Bytes tiny = testdoc::PixelBytes(testdoc::MakeTestPattern(4, 4));
    const uint64_t claimed = uint64_t{2048} * 2048 * 4;
    const Bytes thousand = Repetitive(1000);
    const struct {
        const char* name;
        Bytes blob;
        uint32_t width, height;
        const Bytes& holds;
    } cases[] = {
        {"stored 64 bytes as 2048 x 2048", testdoc::StoredCoding(tiny), 2048, 2048, tiny},
        {"zstd 64 bytes declared as the whole preview", testdoc::ZstdCoding(tiny, 3, claimed), 2048, 2048, tiny},
        {"declared as the preview, one empty block", ZstdBlob(EmptyBlocksFrame(1), claimed), 2048, 2048, Bytes()},
        {"no content size, empty blocks", ZstdBlob(EmptyBlocksFrame(2), 64 * 64 * 4), 64, 64, Bytes()},
        {"no content size, produces 1000 of 1024", ZstdBlob(UnsizedFrame(thousand), 1024), 16, 16, thousand},
        {"stored one byte short", testdoc::StoredCoding(Bytes(tiny.begin(), tiny.end() - 1)), 4, 4,
         Bytes(tiny.begin(), tiny.end() - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IStream* stream = testdoc::CreateMemoryStream(Document(c.blob, c.width, c.height));
        RecordingImage image;
        image.SetPixel(0, 0, kSentinel);
        EXPECT_TRUE(ReadPageStoreThumbnail(image, stream));
        stream->Release();
        ASSERT_EQ(image.Width(), int32_t(c.width));
        ASSERT_EQ(image.Height(), int32_t(c.height));
        EXPECT_EQ(image.largest, int64_t{c.width} * c.height);
        const auto* bytes = reinterpret_cast<const uint8_t*>(image.Pixels());
        const size_t size = size_t{c.width} * c.height * 4;
        EXPECT_EQ(Bytes(bytes, bytes + c.holds.size()), c.holds);
        EXPECT_EQ(std::count(bytes + c.holds.size(), bytes + size, 0), ptrdiff_t(size - c.holds.size()));
    }
}

TEST_F(HostileDocument, DecodingAllocatesWhatTheBlocksCanProduceNotWhatHeadersClaim) {
    const uint64_t claim = 0x7FFFFFFF;  // the largest declared size a blob may carry
    const struct {
        const char* name;
        Bytes blob;
        uint64_t bound;
    } cases[] = {
        {"declared size and content size both claim 2 GiB", ZstdBlob(EmptyBlocksFrame(1, claim), claim), 0},
        {"declared 2 GiB, three empty raw blocks", ZstdBlob(EmptyBlocksFrame(3), claim), 0},
        {"declared 2 GiB, one RLE block of 100000", ZstdBlob(RleFrame(100000), claim), 100000},
        {"declared 2 GiB, a real 1000-byte frame", testdoc::ZstdCoding(pagestore_test::Pattern(1000, 3), 3, claim), 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageStoreWriter writer;
        writer.WriteBlob(7, c.blob);
        auto opened = pagestore_test::OpenBytes(writer.Finish().Flatten());
        pagestore::ZstdContextPool pool;
        pagestore::CodedBlobDecoder decoder(opened->Store(), pool, 7);
        EXPECT_EQ(decoder.DeclaredSize(), claim);
        ASSERT_TRUE(decoder.Prepare());
        EXPECT_EQ(decoder.OutputBound(), c.bound);
    }
}

}  // namespace
