#include "tests/support/DocumentWriter.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

#include "Document_generated.h"

namespace testdoc {

PreviewImage MakeTestPattern(uint32_t width, uint32_t height, uint32_t seed) {
    PreviewImage image{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    std::mt19937 rng(seed);
    uint32_t cx = width / 3, cy = height / 2, r2 = (width / 5) * (width / 5) + 1;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t r = width > 1 ? 255 * x / (width - 1) : 0;
            uint32_t g = height > 1 ? 255 * y / (height - 1) : 0;
            uint32_t b = (x / 16 + y / 16) % 2 ? 200 : 60;
            int64_t dx = int64_t(x) - cx, dy = int64_t(y) - cy;
            if (uint64_t(dx * dx + dy * dy) < r2) r = 250, g = 40, b = 40;
            // Light noise keeps it from compressing like a flat picture.
            uint32_t noise = rng() & 7;
            r = (r + noise) & 0xFF;
            uint32_t a = x < width / 8 ? 0x80 : 0xFF;
            image.pixels[size_t(y) * width + x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return image;
}

Bytes MetadataBuffer(std::optional<ThumbnailFields> thumbnail, bool richContent) {
    flatbuffers::FlatBufferBuilder fbb;
    flatbuffers::Offset<flatbuffers::String> title, tag;
    flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<hzd::DocumentEntry>>> entries;
    flatbuffers::Offset<hzd::ElementList> elements;
    flatbuffers::Offset<hzd::DocumentSectionA> sectionA;
    if (richContent) {
        title = fbb.CreateString("untitled");
        tag = fbb.CreateString("canvas");

        auto entryName = fbb.CreateString("size");
        auto variant2 = hzd::CreateEntryVariant2(fbb, 640, 480);
        auto entry = hzd::CreateDocumentEntry(fbb, entryName, hzd::EntryValue_EntryVariant2, variant2.Union());
        auto variant3 = hzd::CreateEntryVariant3(fbb, 72, 72);
        auto entry2 = hzd::CreateDocumentEntry(fbb, 0, hzd::EntryValue_EntryVariant3, variant3.Union());
        entries = fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::DocumentEntry>>{entry, entry2});

        std::vector<hzd::Block16> blocks{hzd::Block16(1, 2, 3, 4), hzd::Block16(5, 6, 7, 8)};
        sectionA = hzd::CreateDocumentSectionA(fbb, 1, 0, 1, 0, 1, 42, fbb.CreateVectorOfStructs(blocks));

        // Element -> ItemList -> Item -> ItemVariant11 -> Segment -> SegmentVariant6.
        hzd::Block24 b24(1, 2, 3);
        std::vector<hzd::Block24> b24s{b24, b24};
        std::vector<hzd::Block20> b20s{hzd::Block20(1, 2, 3, 4, 5)};
        auto segmentValue = hzd::CreateSegmentVariant6(fbb, &b24, fbb.CreateVectorOfStructs(b24s),
                                                       fbb.CreateVectorOfStructs(b20s));
        auto segmentName = fbb.CreateString("stroke");
        auto segment = hzd::CreateSegment(fbb, &b24, &b24, 1, 2, segmentName, 3, 4, 5,
                                          hzd::SegmentValue_SegmentVariant6, segmentValue.Union());
        auto direct = hzd::CreateSegmentVariant1(fbb, &b24, 7, &b24, 8, 1);
        hzd::Block16 b16(9, 9, 9, 9);
        hzd::Block20 b20(1, 1, 1, 1, 1);
        auto variant11 = hzd::CreateItemVariant11(fbb, &b16, 1, 2, &b20, direct,
                                                  fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Segment>>{segment}));
        auto itemName = fbb.CreateString("layer item");
        auto item = hzd::CreateItem(fbb, 1, 2, itemName, 3, 4, hzd::ItemValue_ItemVariant11, variant11.Union());
        auto detailName = fbb.CreateString("detail");
        auto detailTags = fbb.CreateVectorOfStrings({"a", "b"});
        auto detail = hzd::CreateDetailRecord(fbb, detailName, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, detailTags);
        auto variant9 = hzd::CreateItemVariant9(fbb, &b16, 1, detail, 2);
        auto item2 = hzd::CreateItem(fbb, 2, 0, 0, 0, 0, hzd::ItemValue_ItemVariant9, variant9.Union());
        auto items = hzd::CreateItemList(fbb, fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Item>>{item, item2}));
        auto attachmentValue = hzd::CreateAttachmentVariant2(fbb, 1, 2, 3, 4, 5, 6, 7, 8);
        auto attachment = hzd::CreateAttachment(fbb, hzd::AttachmentValue_AttachmentVariant2, attachmentValue.Union());
        auto extra = hzd::CreateElementExtra(fbb, 1, 2, 3, 4, 5, 6, 7, fbb.CreateVector(std::vector<uint64_t>{1, 2, 3}));
        auto elementName = fbb.CreateString("Layer 1");
        auto attachments = fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Attachment>>{attachment});
        auto ids = fbb.CreateVector(std::vector<uint64_t>{10, 20});
        // Builders do not nest: every child above is finished before a table is started.
        hzd::ElementBuilder element(fbb);
        element.add_slot0(1);
        element.add_slot16(elementName);
        element.add_slot22(0x1122334455667788ull);
        auto elementOffset = element.Finish();
        hzd::ElementBuilder element2(fbb);
        element2.add_slot28(attachments);
        element2.add_slot29(detail);
        element2.add_slot33(extra);
        element2.add_slot34(ids);
        element2.add_slot38(items);
        auto element2Offset = element2.Finish();
        elements = hzd::CreateElementList(
            fbb, 2, fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Element>>{elementOffset, element2Offset}));
    }

    hzd::DocumentBuilder document(fbb);
    if (richContent) {
        document.add_slot0(640);
        document.add_slot3(1);
        document.add_slot7(0x0102030405060708ull);
        document.add_slot8(title);
        document.add_slot13(entries);
        document.add_slot15(sectionA);
        document.add_slot17(elements);
        document.add_slot18(tag);
        document.add_slot22(1);
    }
    hzd::ThumbnailRef ref;
    if (thumbnail) {
        ref = hzd::ThumbnailRef(thumbnail->width, thumbnail->height, thumbnail->blobId);
        document.add_thumbnail(&ref);
    }
    fbb.Finish(document.Finish());
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

Bytes StoredCoding(const Bytes& decoded) {
    Bytes out;
    out.reserve(decoded.size() + 1);
    out.push_back(kStored);
    out.insert(out.end(), decoded.begin(), decoded.end());
    return out;
}

Bytes ZstdCoding(const Bytes& decoded, int level, std::optional<uint64_t> declaredSize) {
    Bytes out(9 + ZSTD_compressBound(decoded.size()));
    size_t n = ZSTD_compress(out.data() + 9, out.size() - 9, decoded.data(), decoded.size(), level);
    if (ZSTD_isError(n)) throw std::runtime_error("zstd compression failed");
    out.resize(9 + n);
    out[0] = kZstd;
    uint64_t declared = declaredSize.value_or(decoded.size());
    for (int i = 0; i < 8; ++i) out[1 + i] = static_cast<uint8_t>(declared >> (8 * i));
    return out;
}

Bytes ZstdFrames(const Bytes& decoded, const FrameOptions& options) {
    Bytes out;
    if (options.skippableFirst) out = {0x50, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 7, 7, 7};
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    const size_t frames = static_cast<size_t>(std::max(options.frames, 1));
    for (size_t f = 0; f < frames; ++f) {
        const size_t from = decoded.size() * f / frames, to = decoded.size() * (f + 1) / frames;
        ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, options.level);
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, options.checksum);
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, options.contentSize);
        if (options.windowLog) ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, options.windowLog);
        Bytes frame(ZSTD_compressBound(to - from) + 64);
        ZSTD_outBuffer output{frame.data(), frame.size(), 0};
        ZSTD_inBuffer input{decoded.data() + from, to - from, 0};
        // Without a content size the input goes in unannounced, so the window stays as asked
        // instead of shrinking to the input.
        size_t left = options.contentSize ? 0 : ZSTD_compressStream2(cctx, &output, &input, ZSTD_e_continue);
        do {
            if (!ZSTD_isError(left)) left = ZSTD_compressStream2(cctx, &output, &input, ZSTD_e_end);
        } while (!ZSTD_isError(left) && left != 0);
        if (ZSTD_isError(left) || input.pos != input.size) throw std::runtime_error("zstd compression failed");
        out.insert(out.end(), frame.begin(), frame.begin() + static_cast<ptrdiff_t>(output.pos));
    }
    ZSTD_freeCCtx(cctx);
    return out;
}

namespace {

constexpr uint32_t kZeroBlock = 128 * 1024;

// A frame header with a 1 MiB window, stating `size` or nothing.
Bytes ZeroFrameHeader(uint64_t size, bool statesSize) {
    Bytes frame = {0x28, 0xB5, 0x2F, 0xFD, static_cast<uint8_t>(statesSize ? 0xC0 : 0x00), 0x50};
    for (int i = 0; statesSize && i < 8; ++i) frame.push_back(static_cast<uint8_t>(size >> (8 * i)));
    return frame;
}

void AppendZeroRleBlocks(Bytes& frame, uint64_t blocks, bool endsFrame) {
    for (uint64_t b = 0; b < blocks; ++b) {
        const uint32_t header = kZeroBlock << 3 | 1u << 1 | (endsFrame && b + 1 == blocks);
        frame.insert(frame.end(), {static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8),
                                   static_cast<uint8_t>(header >> 16), 0});
    }
}

}  // namespace

Bytes ZeroRleFrame(uint64_t size, bool statesSize) {
    Bytes frame = ZeroFrameHeader(size, statesSize);
    AppendZeroRleBlocks(frame, size / kZeroBlock, true);
    return frame;
}

Bytes DamagedZeroFrame(uint64_t size) {
    Bytes frame = ZeroFrameHeader(size, false);
    AppendZeroRleBlocks(frame, size > 0 ? (size - 1) / kZeroBlock : 0, false);
    // The last block, compressed: no literals and one sequence in the predefined codes, but
    // its bit stream has lost the end mark.
    const Bytes damaged = {0x00, 0x01, 0x00, 0x00};
    const uint32_t header = static_cast<uint32_t>(damaged.size()) << 3 | 2u << 1 | 1u;
    frame.insert(frame.end(), {static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8),
                               static_cast<uint8_t>(header >> 16)});
    frame.insert(frame.end(), damaged.begin(), damaged.end());
    return frame;
}

Bytes ZstdBlob(const Bytes& frames, uint64_t declaredSize) {
    Bytes out(9);
    out[0] = kZstd;
    for (int i = 0; i < 8; ++i) out[1 + i] = static_cast<uint8_t>(declaredSize >> (8 * i));
    out.insert(out.end(), frames.begin(), frames.end());
    return out;
}

Bytes PixelBytes(const PreviewImage& image) {
    Bytes out(image.pixels.size() * 4);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<uint8_t>(image.pixels[i] >> (8 * b));
    return out;
}

DocumentInfo BuildPageStoreDocument(const PreviewImage& image, const Layout& layout) {
    DocumentInfo info;
    info.writer = PageStoreWriter(layout.store);
    PageStoreWriter& writer = info.writer;
    writer.SetPage(0, Bytes{});  // blob 0's head, written last
    info.pixelBlobVidx = layout.pixelBlobVidx > 0 ? layout.pixelBlobVidx : writer.FreeVidx(layout.pagesFrom);

    Bytes pixels = PixelBytes(image);
    Bytes coded = layout.pixelBlob                ? *layout.pixelBlob
                  : layout.coding == kZstd ? ZstdCoding(pixels, layout.zstdLevel, layout.declaredSize)
                                           : StoredCoding(pixels);
    if (!layout.pixelBlob && layout.coding != kZstd) coded[0] = layout.coding;
    writer.SetPage(info.pixelBlobVidx, Bytes{});
    writer.WriteBlob(info.pixelBlobVidx, coded, layout.pixelForm, layout.pagesFrom);

    std::optional<ThumbnailFields> thumbnail;
    if (layout.withThumbnail)
        thumbnail = ThumbnailFields{layout.claimedWidth.value_or(image.width), layout.claimedHeight.value_or(image.height),
                                    static_cast<uint64_t>(info.pixelBlobVidx)};
    writer.WriteBlob(0, MetadataBuffer(thumbnail, layout.richMetadata), layout.rootForm, layout.pagesFrom);
    info.file = writer.Finish();
    return info;
}

Bytes WritePageStoreDocument(const PreviewImage& image, const Layout& layout) {
    return BuildPageStoreDocument(image, layout).file.Flatten();
}

}  // namespace testdoc
