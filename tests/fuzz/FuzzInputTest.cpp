// The page-record form of fuzz inputs: files survive encoding and expansion byte for byte, and
// the committed seeds still describe documents the reader accepts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPage = fuzz::kFilePageSize;

Bytes Expand(const Bytes& input) {
    fuzz::InputCursor cursor(input.data(), input.size());
    return fuzz::ExpandPageRecords(cursor);
}

Bytes PageWith(size_t used, uint8_t fill) {
    Bytes page(kPage, 0);
    for (size_t i = 0; i < used; ++i) page[i] = static_cast<uint8_t>(fill + i);
    return page;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FuzzInput, FilesRoundTrip) {
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"one empty page", Bytes(kPage, 0)},
        {"pages with content", Concat({PageWith(3, 1), Bytes(kPage, 0), PageWith(65535, 9)})},
        {"trailing partial page", Concat({PageWith(10, 1), Bytes(100, 0x7F)})},
        {"partial page only", Bytes(5, 0x42)},
        {"trailing partial page of zeros", Concat({PageWith(1, 1), Bytes(3, 0)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes records;
        ASSERT_TRUE(fuzz::EncodePageRecords(c.file, records));
        EXPECT_EQ(Expand(records), c.file);
    }
}

TEST(FuzzInput, FilesThatRecordsCannotHoldAreRefused) {
    Bytes records;
    EXPECT_FALSE(fuzz::EncodePageRecords(PageWith(kPage, 2), records)) << "last byte of a page used";
    EXPECT_FALSE(fuzz::EncodePageRecords(Bytes((fuzz::kMaxFuzzPages + 1) * kPage, 0), records)) << "too many pages";
    EXPECT_FALSE(fuzz::EncodePageRecords(Concat({Bytes(kPage, 0), Bytes(0xFFFF, 1)}), records))
        << "partial page as long as a record";
}

TEST(FuzzInput, ExpansionOfArbitraryInputs) {
    // A record longer than the input is a partial page; a lone length byte is dropped; pages
    // beyond the cap are ignored.
    EXPECT_EQ(Expand({3, 0, 'a', 'b', 'c', 2, 0, 'd'}), Concat({Bytes{'a', 'b', 'c'}, Bytes(kPage - 3, 0), Bytes{'d'}}));
    EXPECT_EQ(Expand({0, 0, 7}), Bytes(kPage, 0));
    Bytes many;
    for (size_t i = 0; i < fuzz::kMaxFuzzPages + 5; ++i) many.insert(many.end(), {1, 0, 0xEE});
    EXPECT_EQ(Expand(many).size(), fuzz::kMaxFuzzPages * kPage);
}

// The provider seeds: the edge, then the document. The seeds that hold a decodable preview
// must still give one, or the corpus no longer reaches the pixel path.
TEST(FuzzInput, PageStoreSeedsHoldTheirPreviews) {
    const std::filesystem::path dir = std::filesystem::path(THUMB_SOURCE_DIR) / "fuzz/corpus/fuzz_pagestore_provider";
    const struct {
        const char* seed;
        bool result;
        int32_t width, height;
    } cases[] = {
        {"zstd_inline_8x8", true, 8, 8},          {"stored_inline_16x8", true, 16, 8},
        {"zstd_paged_32x24", true, 32, 24},       {"stored_paged_24x32", true, 24, 32},
        {"map_chain", true, 8, 8},                {"map_chain_first_entry", true, 6, 6},
        {"head0_current", true, 8, 4},            {"negative_generations", true, 4, 8},
        {"equal_generations", true, 4, 8},        {"shuffled_pages", true, 16, 16},
        {"trailing_bytes", true, 4, 4},           {"stored_two_data_pages", true, 128, 128},
        {"zstd_level_19_64x48", true, 64, 48},    {"version_ff", true, 4, 4},
        {"no_thumbnail", false, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        std::ifstream in(dir / c.seed, std::ios::binary);
        ASSERT_TRUE(in) << "seed missing";
        Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fuzz::InputCursor cursor(input.data(), input.size());
        cursor.U16();
        const Bytes file = fuzz::ExpandPageRecords(cursor);
        IStream* stream = fuzz::MemoryStream(file);
        tarn::CImage32 image;
        EXPECT_EQ(ReadPageStoreThumbnail(image, stream), c.result);
        stream->Release();
        EXPECT_EQ(image.Width(), c.width);
        EXPECT_EQ(image.Height(), c.height);
    }
}

}  // namespace
