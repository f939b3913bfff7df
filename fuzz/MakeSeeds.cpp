// Writes the seed corpora of the fuzz targets from the test writers: valid documents of every
// layout the readers know, kept small (previews of 4 x 4 to 64 x 64) so the corpus stays in
// the repository.
//
//   make_fuzz_seeds <fuzz/corpus directory> [<fuzz/regressions directory>]
//
// With the second directory it also writes the hand-made hostile documents there, and those
// that decode gigabytes into the hostile/ directory beside it.
// Existing files of the same names are overwritten; nothing else there is touched.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <zstd.h>

#include "fuzz/FuzzSupport.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

int failures = 0;

void WriteSeed(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        ++failures;
    }
}

Bytes U16(uint16_t v) { return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

struct PageStoreSeed {
    std::string name;
    testdoc::PreviewImage image;
    testdoc::Layout layout;
    uint16_t cx = 96;
};

testdoc::PreviewImage Pattern(uint32_t w, uint32_t h) { return testdoc::MakeTestPattern(w, h, w * 31 + h); }

std::vector<PageStoreSeed> PageStoreSeeds() {
    std::vector<PageStoreSeed> seeds;
    auto add = [&seeds](std::string name, testdoc::PreviewImage image, uint16_t cx, auto adjust) {
        PageStoreSeed seed{std::move(name), std::move(image), {}, cx};
        adjust(seed.layout);
        seeds.push_back(std::move(seed));
    };
    using L = testdoc::Layout;
    add("zstd_inline_8x8", Pattern(8, 8), 64, [](L&) {});
    add("stored_inline_16x8", Pattern(16, 8), 32, [](L& l) { l.coding = testdoc::kStored; });
    add("zstd_paged_32x24", Pattern(32, 24), 96, [](L& l) { l.pixelForm = testdoc::BlobForm::Paged; });
    add("stored_paged_24x32", Pattern(24, 32), 17, [](L& l) {
        l.coding = testdoc::kStored;
        l.pixelForm = testdoc::BlobForm::Paged;
    });
    add("paged_root", Pattern(8, 12), 40, [](L& l) { l.rootForm = testdoc::BlobForm::Paged; });
    add("plain_metadata", Pattern(4, 4), 4, [](L& l) { l.richMetadata = false; });
    add("no_thumbnail", Pattern(4, 4), 16, [](L& l) { l.withThumbnail = false; });
    add("coding_2", Pattern(4, 4), 16, [](L& l) { l.coding = 2; });
    add("zstd_declared_larger", Pattern(8, 8), 24, [](L& l) { l.declaredSize = 8 * 8 * 4 * 3; });
    add("zstd_declared_smaller", Pattern(8, 8), 24, [](L& l) { l.declaredSize = 8 * 8 * 4 / 2; });
    add("stored_short_blob", Pattern(8, 8), 24, [](L& l) {
        l.coding = testdoc::kStored;
        l.claimedHeight = 12;
    });
    add("zstd_level_19_64x48", Pattern(64, 48), 128, [](L& l) { l.zstdLevel = 19; });
    // The page map beyond the head page: the pixel blob's entry in the second map page.
    add("map_chain", Pattern(8, 8), 48, [](L& l) {
        l.pixelBlobVidx = 4094 + 4095;
        l.store.extraMapPages = 1;
    });
    add("map_chain_first_entry", Pattern(6, 6), 48, [](L& l) { l.pixelBlobVidx = 4094; });
    add("head0_current", Pattern(8, 4), 30, [](L& l) {
        l.store.currentHead = 0;
        l.store.staleHeadEmpty = false;
    });
    add("negative_generations", Pattern(4, 8), 30, [](L& l) {
        l.store.currentGeneration = -1;
        l.store.staleGeneration = -9;
    });
    add("equal_generations", Pattern(4, 8), 30, [](L& l) {
        l.store.currentGeneration = 5;
        l.store.staleGeneration = 5;
        l.store.currentHead = 1;
        l.store.staleHeadEmpty = false;
    });
    add("version_0", Pattern(4, 4), 8, [](L& l) { l.store.version = 0; });
    add("version_ff", Pattern(4, 4), 8, [](L& l) { l.store.version = 0xFF; });
    add("shuffled_pages", Pattern(16, 16), 64, [](L& l) {
        l.store.shuffleSeed = 7;
        l.pixelForm = testdoc::BlobForm::Paged;
        l.rootForm = testdoc::BlobForm::Paged;
    });
    add("trailing_bytes", Pattern(4, 4), 12, [](L& l) { l.store.trailingBytes = 100; });
    add("padded_file", Pattern(4, 4), 12, [](L& l) { l.store.minFilePages = 12; });
    add("wide_strip", Pattern(64, 1), 256, [](L&) {});
    add("tall_strip", Pattern(1, 64), 7, [](L&) {});
    // A stored blob over two data pages (128 x 128 x 4 + 1 bytes). The record of a page holds
    // at most 65535 bytes, so the byte at the end of the first data page (a red channel) is 0.
    {
        testdoc::PreviewImage big = Pattern(128, 128);
        big.pixels[16383] &= 0xFF00FFFFu;
        add("stored_two_data_pages", std::move(big), 100, [](L& l) {
            l.coding = testdoc::kStored;
            l.pixelForm = testdoc::BlobForm::Paged;
        });
    }
    return seeds;
}

bool Encode(const testdoc::PageFile& file, Bytes& records) {
    return fuzz::EncodePageRecords(file.Flatten(), records);
}

void PageStoreCorpora(const fs::path& root) {
    for (const PageStoreSeed& seed : PageStoreSeeds()) {
        testdoc::DocumentInfo doc = testdoc::BuildPageStoreDocument(seed.image, seed.layout);
        Bytes records;
        if (!Encode(doc.file, records)) {
            std::fprintf(stderr, "%s: a page does not fit a record\n", seed.name.c_str());
            ++failures;
            continue;
        }
        Bytes provider = U16(seed.cx);
        provider.insert(provider.end(), records.begin(), records.end());
        WriteSeed(root / "fuzz_pagestore_provider", seed.name, provider);

        Bytes pixelBlob = U16(static_cast<uint16_t>(doc.pixelBlobVidx));
        pixelBlob.insert(pixelBlob.end(), records.begin(), records.end());
        WriteSeed(root / "fuzz_decode_blob", seed.name, pixelBlob);
    }
    // Blob 0 through DecodeBlob: its first byte is the metadata's, not a coding.
    testdoc::DocumentInfo doc = testdoc::BuildPageStoreDocument(Pattern(4, 4));
    Bytes records;
    if (Encode(doc.file, records)) {
        Bytes root0 = U16(0);
        root0.insert(root0.end(), records.begin(), records.end());
        WriteSeed(root / "fuzz_decode_blob", "root_blob", root0);
    }
}

void SchemaCorpus(const fs::path& dir) {
    const testdoc::ThumbnailFields fields{48, 32, 7};
    WriteSeed(dir, "rich_with_thumbnail", testdoc::MetadataBuffer(fields, true));
    WriteSeed(dir, "rich_without_thumbnail", testdoc::MetadataBuffer(std::nullopt, true));
    WriteSeed(dir, "plain_with_thumbnail", testdoc::MetadataBuffer(fields, false));
    WriteSeed(dir, "plain_without_thumbnail", testdoc::MetadataBuffer(std::nullopt, false));
}

std::vector<uint32_t> ArchivePixels(int32_t w, int32_t h) {
    return testdoc::MakeTestPattern(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 3).pixels;
}

void ArchiveCorpus(const fs::path& dir) {
    auto withEdge = [](uint16_t cx, const Bytes& file) {
        Bytes out = U16(cx);
        out.insert(out.end(), file.begin(), file.end());
        return out;
    };
    WriteSeed(dir, "zlib_16x16", withEdge(64, archive_test::PreviewArchive(16, 16, ArchivePixels(16, 16), true)));
    WriteSeed(dir, "raw_8x4", withEdge(20, archive_test::PreviewArchive(8, 4, ArchivePixels(8, 4), false)));
    WriteSeed(dir, "zlib_64x32", withEdge(128, archive_test::PreviewArchive(64, 32, ArchivePixels(64, 32), true)));

    // Header variety: a declaration, a comment, attributes with a sign and other elements,
    // chunks to skip (one of a type that is not decoded comes after the named one).
    archive_test::Archive a;
    a.xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- preview --><Divude version=\"2\"><Layers><Layer id=\"1\"/>"
            "</Layers><Thumb width=\"+4\" height=\"6\" bin=\"preview\"/></Divude>";
    a.chunks.push_back(archive_test::StoredChunk("layer0", Bytes(40, 0x11)));
    a.chunks.push_back(archive_test::ZlibChunk("layer1", Bytes(300, 0x22)));
    a.chunks.push_back(archive_test::ZlibChunk("preview", archive_test::PixelBytes(ArchivePixels(4, 6))));
    archive_test::Chunk odd = archive_test::StoredChunk("other", Bytes(8, 0x33));
    odd.type = 2;
    a.chunks.push_back(odd);
    WriteSeed(dir, "declaration_and_skips", withEdge(33, archive_test::Write(a)));

    // A chunk of another type under the wanted name: the scan reads on right after its header.
    archive_test::Archive b;
    b.xml = archive_test::ThumbXml("2", "2", "t");
    archive_test::Chunk typed = archive_test::StoredChunk("t", {});
    typed.type = 7;
    typed.rawSize = 16;
    b.chunks.push_back(typed);
    b.chunks.push_back(archive_test::StoredChunk("t", archive_test::PixelBytes(ArchivePixels(2, 2))));
    WriteSeed(dir, "typed_chunk_then_stored", withEdge(9, archive_test::Write(b)));

    // A stored chunk longer than the preview needs, and an empty bin name.
    archive_test::Archive c;
    c.xml = "<Divude><Thumb width=\"3\" height=\"3\" bin=\"\"/></Divude>";
    Bytes longer = archive_test::PixelBytes(ArchivePixels(3, 3));
    longer.resize(longer.size() + 20, 0x44);
    c.chunks.push_back(archive_test::StoredChunk("", longer));
    WriteSeed(dir, "empty_name_long_chunk", withEdge(12, archive_test::Write(c)));
}

Bytes Frame(const Bytes& plain, bool contentSize, bool checksum, int level) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, contentSize ? 1 : 0);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
    Bytes out(ZSTD_compressBound(plain.size()));
    const size_t n = ZSTD_compress2(cctx, out.data(), out.size(), plain.data(), plain.size());
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n)) {
        ++failures;
        return {};
    }
    out.resize(n);
    return out;
}

// zstd frames of every block type: raw (noise), RLE (one value), compressed (a picture's bytes).
void ZstdCorpus(const fs::path& dir) {
    const Bytes picture = testdoc::PixelBytes(Pattern(24, 16));
    const Bytes flat(3000, 0x5A);
    Bytes noise(700);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    WriteSeed(dir, "picture_sized", Frame(picture, true, false, 3));
    WriteSeed(dir, "picture_unsized_checksum", Frame(picture, false, true, 19));
    WriteSeed(dir, "flat_unsized", Frame(flat, false, false, 1));
    WriteSeed(dir, "noise_sized_checksum", Frame(noise, true, true, 3));
    WriteSeed(dir, "empty", Frame({}, true, false, 3));
    Bytes two = Frame(picture, true, false, 3);
    const Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 4, 0, 0, 0, 1, 2, 3, 4};
    two.insert(two.end(), skippable.begin(), skippable.end());
    const Bytes second = Frame(flat, false, true, 5);
    two.insert(two.end(), second.begin(), second.end());
    WriteSeed(dir, "two_frames_and_skippable", two);
}

// Hand-made hostile documents the fuzzer is unlikely to build itself: small files whose
// headers claim a large preview or a large decoded size. The claimed previews are read (what
// the blob holds, then zeros); the frame that claims 2 GiB over an empty block is a zstd error.
// Replayed with the regressions: no allocation may follow a claim beyond the preview's size.
void HostileInputs(const fs::path& root) {
    const uint64_t fullPreview = uint64_t{16384} * 16384 * 4;
    const uint64_t zeroPreview = uint64_t{23170} * 23170 * 4;
    const Bytes tiny = testdoc::PixelBytes(Pattern(4, 4));
    struct Hostile {
        const char* name;
        Bytes pixelBlob;
        uint32_t width, height;
        bool forDecodeBlob = true;
        bool decodesGigabytes = false;  // too slow for the fuzzer's timeout: hostile/, not regressions/
    };
    // zstd frame header with an 8-byte content size over one empty last raw block.
    Bytes lyingFrame = {3};
    for (int i = 0; i < 8; ++i) lyingFrame.push_back(static_cast<uint8_t>(0x7FFFFFFFull >> (8 * i)));
    lyingFrame.insert(lyingFrame.end(), {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0x38});
    for (int i = 0; i < 8; ++i) lyingFrame.push_back(static_cast<uint8_t>(0x7FFFFFFFull >> (8 * i)));
    lyingFrame.insert(lyingFrame.end(), {1, 0, 0});
    // A one-byte skippable frame in front puts a zero byte (an RLE block's value) at the end of
    // every data page: page records cannot hold a page whose last byte is not zero.
    Bytes damagedFrame = {0x50, 0x2A, 0x4D, 0x18, 1, 0, 0, 0, 0};
    const Bytes damaged = testdoc::DamagedZeroFrame(zeroPreview);
    damagedFrame.insert(damagedFrame.end(), damaged.begin(), damaged.end());
    const Hostile hostile[] = {
        {"claim_16384_stored_64_bytes", testdoc::StoredCoding(tiny), 16384, 16384},
        {"claim_16384_zstd_declared_full", testdoc::ZstdCoding(tiny, 3, fullPreview), 16384, 16384},
        {"frame_claims_2gib_over_empty_block", lyingFrame, 1, 1},
        // 2 GiB of zeros for a 23170 x 23170 preview in a 64 KB frame that states no size and
        // fails in its last block: the request decodes it once, through one band. DecodeBlob
        // decodes it into a block of 2 GiB, as reading the blob whole must, so it is no input
        // for fuzz_decode_blob.
        {"damaged_2gib_zero_frame_23170", testdoc::ZstdBlob(damagedFrame, zeroPreview), 23170, 23170, false, true},
    };
    for (const Hostile& h : hostile) {
        testdoc::PageStoreWriter writer;
        writer.SetPage(0, {});
        writer.WriteBlob(5, h.pixelBlob);
        writer.WriteBlob(0, testdoc::MetadataBuffer(testdoc::ThumbnailFields{h.width, h.height, 5}));
        Bytes records;
        if (!Encode(writer.Finish(), records)) {
            ++failures;
            continue;
        }
        Bytes provider = U16(256);
        provider.insert(provider.end(), records.begin(), records.end());
        WriteSeed((h.decodesGigabytes ? root.parent_path() / "hostile" : root) / "fuzz_pagestore_provider", h.name,
                  provider);
        if (!h.forDecodeBlob) continue;
        Bytes blob = U16(5);
        blob.insert(blob.end(), records.begin(), records.end());
        WriteSeed(root / "fuzz_decode_blob", h.name, blob);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <fuzz/corpus directory> [<fuzz/regressions directory>]\n");
        return 2;
    }
    const fs::path root(argv[1]);
    PageStoreCorpora(root);
    SchemaCorpus(root / "fuzz_schema_verifier");
    ArchiveCorpus(root / "fuzz_archive_provider");
    ZstdCorpus(root / "fuzz_zstd_limit");
    if (argc == 3) {
        fs::path regressions(argv[2]);
        if (!regressions.has_filename()) regressions = regressions.parent_path();  // a trailing '/'
        HostileInputs(regressions);
    }
    return failures ? 1 : 0;
}
