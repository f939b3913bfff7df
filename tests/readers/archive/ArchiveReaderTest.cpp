#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>
#include <functional>
#include <random>

#include "readers/archive/ReadLayeredArchiveThumbnail.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

using archive_test::Archive;
using archive_test::PixelBytes;
using archive_test::StoredChunk;
using archive_test::ThumbXml;
using archive_test::ZlibChunk;

std::vector<uint32_t> RandomPixels(size_t n, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> p(n);
    for (auto& v : p) v = rng();
    return p;
}

bool Read(const std::vector<uint8_t>& file, tarn::CImage32& image) {
    IStream* s = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    EXPECT_NE(s, nullptr);
    struct Release {
        IStream* s;
        ~Release() { s->Release(); }
    } release{s};  // also when the reader throws
    return ReadLayeredArchiveThumbnail(image, s);
}

bool HasPixels(const tarn::CImage32& image, int32_t w, int32_t h, const std::vector<uint32_t>& pixels) {
    if (image.Width() != w || image.Height() != h) return false;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (image.GetPixel(x, y) != pixels[static_cast<size_t>(y) * w + x]) return false;
    return true;
}

// An archive whose "thumb" chunk holds w x h pixels, with the XML header given.
Archive WithXml(std::string xml, int32_t w = 3, int32_t h = 2, bool compressed = false) {
    Archive a;
    a.xml = std::move(xml);
    auto bytes = PixelBytes(RandomPixels(static_cast<size_t>(w) * h));
    a.chunks.push_back(compressed ? ZlibChunk("thumb", bytes) : StoredChunk("thumb", bytes));
    return a;
}

struct Case {
    const char* what;
    std::function<Archive()> make;
    bool expected;
};

// Each case differs from a good file in one respect.
TEST(ReadLayeredArchiveThumbnail, AcceptsAndRefusesAsTheFormatSays) {
    const std::string good = ThumbXml("3", "2", "thumb");
    const Case cases[] = {
        {"stored chunk", [&] { return WithXml(good); }, true},
        {"zlib chunk", [&] { return WithXml(good, 3, 2, true); }, true},
        {"magic followed by a space", [&] { auto a = WithXml(good); a.magic = "rvnpack "; return a; }, false},
        {"magic in another case", [&] { auto a = WithXml(good); a.magic = std::string("RVNPACK\0", 8); return a; }, false},
        {"empty XML", [&] { return WithXml(""); }, false},
        {"width 1024 height 1", [] { return WithXml(ThumbXml("1024", "1", "thumb"), 1024, 1); }, true},
        {"width 1025", [] { return WithXml(ThumbXml("1025", "1", "thumb"), 1025, 1); }, false},
        {"height 0", [] { return WithXml(ThumbXml("3", "0", "thumb")); }, false},
        {"negative width", [] { return WithXml(ThumbXml("-3", "2", "thumb")); }, false},
        {"plus sign", [] { return WithXml(ThumbXml("+3", "2", "thumb")); }, true},
        {"no height attribute", [] { return WithXml("<Divude><Thumb width=\"3\" bin=\"thumb\"/></Divude>"); }, false},
        {"comment and declaration first",
         [&] { return WithXml("<?xml version=\"1.0\"?><!-- Divude --><Divude><Thumb width='3' height='2' bin='thumb'/></Divude>"); },
         true},
        {"Thumb deeper than a child", [] { return WithXml("<Divude><x><Thumb width='3' height='2' bin='thumb'/></x></Divude>"); }, false},
        {"second Divude never looked at",
         [] { return WithXml("<Divude/><Divude><Thumb width='3' height='2' bin='thumb'/></Divude>"); }, false},
        {"element names are case-sensitive", [] { return WithXml("<divude><Thumb width='3' height='2' bin='thumb'/></divude>"); }, false},
        {"zero byte ends the text after the root", [&] { return WithXml(good + std::string("\0<<garbage", 10)); }, true},
        {"zero byte ends the text inside the root",
         [] { return WithXml(std::string("<Divude>") + '\0' + "<Thumb width='3' height='2' bin='thumb'/></Divude>"); }, false},
        {"bin names another chunk", [] { return WithXml(ThumbXml("3", "2", "other")); }, false},
        {"empty bin matches an unnamed chunk",
         [] { auto a = WithXml(ThumbXml("3", "2", "")); a.chunks[0].name = ""; return a; }, true},
        {"64-character name fills the field",
         [] { std::string n(64, 'n'); auto a = WithXml(ThumbXml("3", "2", n)); a.chunks[0].name = n; return a; }, true},
        {"name is a prefix of the bin", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.chunks[0].name = "thum"; return a; }, false},
        {"chunk shorter than the preview",
         [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.chunks[0].data.resize(23); return a; }, false},
        {"rawSize 0", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.chunks[0].rawSize = 0; return a; }, false},
        {"chunk header without PAC", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.chunks[0].magic = "PAK "; return a; }, false},
        {"stream ends inside the chunk data",
         [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.truncateTo = 20 + a.xml.size() + 132 + 10; return a; }, false},
        {"stream ends inside the file header", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.truncateTo = 14; return a; }, false},
        {"stream ends inside the XML", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.truncateTo = 30; return a; }, false},
        {"xmlLength past the end of the stream", [] { auto a = WithXml(ThumbXml("3", "2", "thumb")); a.xmlLength = 5000; return a; }, false},
        {"corrupt zlib data",
         [] { auto a = WithXml(ThumbXml("3", "2", "thumb"), 3, 2, true); a.chunks[0].data[4] ^= 0xFF; a.chunks[0].data[5] ^= 0xFF; return a; }, false},
        {"zlib stream cut short",
         [] { auto a = WithXml(ThumbXml("3", "2", "thumb"), 3, 2, true); a.chunks[0].data.resize(a.chunks[0].data.size() - 6); return a; }, false},
        {"zlib stream producing more than rawSize",
         [] { auto a = WithXml(ThumbXml("3", "2", "thumb"), 3, 2, true); a.chunks[0].rawSize = 23; return a; }, false},
        {"type 2 chunk followed by a good one",
         [] {
             auto a = WithXml(ThumbXml("3", "2", "thumb"));
             auto type2 = a.chunks[0];
             type2.type = 2;
             a.chunks.insert(a.chunks.begin(), type2);
             return a;
         },
         false},
    };
    for (const Case& c : cases) {
        tarn::CImage32 image;
        EXPECT_EQ(Read(archive_test::Write(c.make()), image), c.expected) << c.what;
    }
}

TEST(ReadLayeredArchiveThumbnail, DeliversThePixelsInOrder) {
    const auto pixels = RandomPixels(5 * 4);
    for (bool compressed : {false, true}) {
        tarn::CImage32 image;
        ASSERT_TRUE(Read(archive_test::PreviewArchive(5, 4, pixels, compressed), image));
        EXPECT_TRUE(HasPixels(image, 5, 4, pixels)) << compressed;
    }
}

TEST(ReadLayeredArchiveThumbnail, SkipsOtherChunksByTheirPackedSize) {
    const auto pixels = RandomPixels(6);
    Archive a;
    a.xml = ThumbXml("3", "2", "thumb");
    a.chunks.push_back(StoredChunk("first", std::vector<uint8_t>(100, 'P')));   // would read as garbage headers
    a.chunks.push_back(ZlibChunk("second", std::vector<uint8_t>(5000, 'A')));
    a.chunks.push_back(ZlibChunk("thumb", PixelBytes(pixels)));
    a.chunks.push_back(StoredChunk("thumb", PixelBytes(RandomPixels(6, 99))));  // only the first counts
    tarn::CImage32 image;
    ASSERT_TRUE(Read(archive_test::Write(a), image));
    EXPECT_TRUE(HasPixels(image, 3, 2, pixels));
}

// The data of a type-2 chunk is not skipped: the next header is read right after its header.
TEST(ReadLayeredArchiveThumbnail, ReadsTheHeaderRightAfterAnUnknownTypeChunk) {
    const auto pixels = RandomPixels(6);
    Archive inner;
    inner.chunks.push_back(StoredChunk("thumb", PixelBytes(pixels)));
    auto innerBytes = archive_test::Write(inner);
    innerBytes.erase(innerBytes.begin(), innerBytes.begin() + 20);  // the chunk alone
    Archive a;
    a.xml = ThumbXml("3", "2", "thumb");
    a.chunks.push_back(StoredChunk("thumb", innerBytes));
    a.chunks[0].type = 2;
    tarn::CImage32 image;
    ASSERT_TRUE(Read(archive_test::Write(a), image));
    EXPECT_TRUE(HasPixels(image, 3, 2, pixels));
}

TEST(ReadLayeredArchiveThumbnail, UsesOnlyThePreviewBytesOfALargerChunk) {
    auto pixels = RandomPixels(6);
    auto bytes = PixelBytes(pixels);
    bytes.resize(bytes.size() + 40, 0xEE);
    Archive a;
    a.xml = ThumbXml("3", "2", "thumb");
    a.chunks.push_back(StoredChunk("thumb", bytes));
    tarn::CImage32 image;
    ASSERT_TRUE(Read(archive_test::Write(a), image));
    EXPECT_TRUE(HasPixels(image, 3, 2, pixels));
}

// A zlib stream that ends before rawSize leaves the rest of the data zero, never stale memory.
TEST(ReadLayeredArchiveThumbnail, ShortZlibStreamLeavesTheRestTransparent) {
    auto pixels = RandomPixels(6);
    auto bytes = PixelBytes(pixels);
    bytes.resize(bytes.size() - 8);
    Archive a;
    a.xml = ThumbXml("3", "2", "thumb");
    a.chunks.push_back(ZlibChunk("thumb", bytes));
    a.chunks[0].rawSize = 24;
    tarn::CImage32 image;
    ASSERT_TRUE(Read(archive_test::Write(a), image));
    pixels[4] = pixels[5] = 0;
    EXPECT_TRUE(HasPixels(image, 3, 2, pixels));
}

TEST(ReadLayeredArchiveThumbnail, XmlLengthBound) {
    // 0x9FFFFF is accepted: the header is padded with spaces after the elements.
    std::string xml = ThumbXml("3", "2", "thumb");
    xml.resize(0x9FFFFF, ' ');
    tarn::CImage32 image;
    EXPECT_TRUE(Read(archive_test::Write(WithXml(xml)), image));

    // 0xA00000 is refused before anything is allocated, leaving the placeholder.
    Archive big = WithXml(ThumbXml("3", "2", "thumb"));
    big.xmlLength = 0xA00000;
    tarn::CImage32 placeholder;
    EXPECT_FALSE(Read(archive_test::Write(big), placeholder));
    EXPECT_EQ(placeholder.Width(), 64);
    EXPECT_EQ(placeholder.Height(), 64);
    EXPECT_EQ(placeholder.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(placeholder.GetPixel(8, 0), 0xFFE0E0E0u);
    EXPECT_EQ(placeholder.GetPixel(8, 8), 0xFFFFFFFFu);
}

// Dimension texts that are not whole integers make the conversion throw; the provider maps it.
TEST(ReadLayeredArchiveThumbnail, NonNumericDimensionsThrow) {
    for (const char* width : {"3x", " 3", "3 ", "three", "99999999999"}) {
        tarn::CImage32 image;
        EXPECT_THROW(Read(archive_test::Write(WithXml(ThumbXml(width, "2", "thumb"))), image), boost::bad_lexical_cast)
            << width;
    }
}

// Headers that would make TinyXML recurse, compare or allocate without end are refused.
TEST(ReadLayeredArchiveThumbnail, RefusesHeadersBeyondTheParserBounds) {
    std::string deep = "<Divude><Thumb width='3' height='2' bin='thumb'/>";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    std::string wide = "<Divude><Thumb width='3' height='2' bin='thumb'/><a";
    for (int i = 0; i < 100000; ++i) wide += " a" + std::to_string(i) + "=''";
    wide += "/></Divude>";
    std::string many = "<Divude><Thumb width='3' height='2' bin='thumb'/>";
    for (int i = 0; i < 2000000; ++i) many += "<a/>";
    many += "</Divude>";
    for (const std::string* xml : {&deep, &wide, &many}) {
        tarn::CImage32 image;
        EXPECT_FALSE(Read(archive_test::Write(WithXml(*xml)), image));
    }
}

}  // namespace

namespace {

// Damaged files must end in false (or the conversion's exception), never a crash or a read
// outside a buffer; run under ASan this walks many damaged variants of good files.
TEST(ReadLayeredArchiveThumbnail, DamagedFilesEndCleanly) {
    archive_test::Archive rich;
    rich.xml = "<?xml version='1.0' encoding='UTF-8'?><!-- c --><Divude a='1'><Layer name='&amp;&#x41;'>t<![CDATA[x]]></Layer>"
               "<Thumb width='4' height='3' bin='thumb'/></Divude>";
    rich.chunks.push_back(StoredChunk("layer", std::vector<uint8_t>(40, 7)));
    rich.chunks.push_back(ZlibChunk("thumb", PixelBytes(RandomPixels(12))));
    const std::vector<std::vector<uint8_t>> seeds = {archive_test::Write(rich),
                                                     archive_test::PreviewArchive(4, 3, RandomPixels(12), false)};
    std::mt19937 rng(2024);
    int accepted = 0;
    for (int i = 0; i < 4000; ++i) {
        std::vector<uint8_t> file = seeds[i % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            const size_t at = rng() % file.size();
            switch (rng() % 4) {
                case 0: file[at] = static_cast<uint8_t>(rng()); break;
                case 1: file[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                case 2: file.resize(at + 1); break;
                default: file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng())); break;
            }
        }
        tarn::CImage32 image;
        try {
            accepted += Read(file, image);
        } catch (const boost::bad_lexical_cast&) {
        }
    }
    EXPECT_GT(accepted, 0);  // some edits leave the preview readable
}

}  // namespace
