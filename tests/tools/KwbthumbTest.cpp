#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/tools/KwbthumbFixture.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

using namespace kwbthumb_test;

TEST_F(KwbthumbTest, UsageErrorsExitWithTwo) {
    const std::string doc = Write("doc.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(40, 30)));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {doc},
        {"-x", doc, Path("o.png")},
        {"-s", "0", doc, Path("o.png")},
        {"-s", "8193", doc, Path("o.png")},
        {"-s", "-5", doc, Path("o.png")},
        {"-s", "12a", doc, Path("o.png")},
        {"-s", "", doc, Path("o.png")},
        {doc, Path("o.png"), "-s"},
        {doc, Path("o.png"), Path("third.png")},
        {Path("missing.kwb"), Path("o.png")},
        {dir, Path("o.png")},
        {doc, Path("no-such-folder/o.png")},
        {doc, dir + "/"},
    };
    for (const auto& args : cases) {
        Outcome r = Kwbthumb(args);
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << line << r.err;
        EXPECT_EQ(Leftovers({doc}), std::vector<std::string>{}) << line;
    }
}

TEST_F(KwbthumbTest, HelpPrintsUsage) {
    Outcome r = Kwbthumb({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: kwbthumb [-s SIZE] [--square] [--format png|bmp] INPUT OUTPUT"), std::string::npos);
}

// The project's one version number is the VERSION file's first line.
TEST_F(KwbthumbTest, VersionIsTheProjectVersion) {
    std::string version = Slurp(THUMB_VERSION_FILE);
    version = version.substr(0, version.find('\n'));
    ASSERT_FALSE(version.empty());
    const Outcome r = Kwbthumb({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kwbthumb " + version + "\n");
}

TEST_F(KwbthumbTest, BmpHoldsTheProviderBitmapExactly) {
    const Bytes document = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(90, 60));
    const std::string in = Write("doc.kwb", document);
    for (UINT cx : {1u, 37u, 256u}) {
        const std::string out = Path("t.bmp");
        Outcome r = cx == 256 ? Kwbthumb({"--square", in, out}) : Kwbthumb({"--square", "-s", std::to_string(cx), in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string file = Slurp(out);
        Expected e = ProviderBitmap(document, cx);
        Bytes expected = {'B', 'M'};
        for (const Bytes& part : {Le(54 + cx * cx * 4, 4), Le(0, 4), Le(54, 4)}) expected.insert(expected.end(), part.begin(), part.end());
        const auto* h = reinterpret_cast<const uint8_t*>(&e.header);
        expected.insert(expected.end(), h, h + 40);
        expected.insert(expected.end(), e.bits.begin(), e.bits.end());
        ASSERT_EQ(file.size(), expected.size()) << cx;
        EXPECT_TRUE(std::memcmp(file.data(), expected.data(), expected.size()) == 0) << cx;
        EXPECT_EQ(e.header.biHeight, static_cast<LONG>(cx));  // positive: bottom-up
    }
}

TEST_F(KwbthumbTest, PngIsTheBitmapUprightWithStraightAlpha) {
    const Bytes document = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(64, 100));
    const std::string in = Write("doc.kwb", document);
    const std::string out = Path("t.png");
    Outcome r = Kwbthumb({"--square", "-s", "48", in, out});
    ASSERT_EQ(r.status, 0) << r.err;

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, out.c_str()));
    EXPECT_EQ(png.width, 48u);
    EXPECT_EQ(png.height, 48u);
    EXPECT_TRUE(png.format & PNG_FORMAT_FLAG_ALPHA);
    png.format = PNG_FORMAT_RGBA;
    Bytes rgba(48 * 48 * 4);
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr));

    Expected e = ProviderBitmap(document, 48);
    size_t mismatches = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            const uint8_t* b = &e.bits[((47 - y) * 48 + x) * 4];  // bottom-up BGRA
            const uint8_t* p = &rgba[(y * 48 + x) * 4];         // top-down RGBA
            mismatches += p[0] != b[2] || p[1] != b[1] || p[2] != b[0] || p[3] != b[3];
        }
    EXPECT_EQ(mismatches, 0u);
}

// Desktop thumbnail factories expect a plain PNG: 8-bit RGBA, not interlaced, whatever the
// picture holds (an opaque or tiny one included).
TEST_F(KwbthumbTest, PngIsPlainEightBitRgba) {
    testdoc::PreviewImage opaque = testdoc::MakeTestPattern(20, 20);
    for (uint32_t& p : opaque.pixels) p |= 0xFF000000u;
    const std::string in = Write("doc", testdoc::WritePageStoreDocument(opaque));
    for (const char* size : {"1", "20", "33"}) {
        const std::string out = Path("t.png");
        Outcome r = Kwbthumb({"-s", size, in, out});
        ASSERT_EQ(r.status, 0) << size << r.err;
        const std::string png = Slurp(out);
        ASSERT_GE(png.size(), 33u);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(static_cast<uint8_t>(png[24]), 8) << "bit depth at " << size;
        EXPECT_EQ(static_cast<uint8_t>(png[25]), 6) << "colour type at " << size;
        EXPECT_EQ(static_cast<uint8_t>(png[28]), 0) << "interlace at " << size;
    }
}

// The format comes from the first bytes; the name plays no part.
TEST_F(KwbthumbTest, ReaderChosenByContent) {
    testdoc::PreviewImage picture = testdoc::MakeTestPattern(30, 20);
    const std::string archive =
        Write("archive.kwb", archive_test::PreviewArchive(30, 20, picture.pixels));
    const std::string pageStore = Write("pagestore.rvn", testdoc::WritePageStoreDocument(picture));
    for (const std::string& in : {archive, pageStore}) {
        Outcome r = Kwbthumb({"--square", "-s", "30", in, Path("o.bmp")});
        ASSERT_EQ(r.status, 0) << in << r.err;
        // Both hold the same 30 x 20 picture, so both thumbnails are alike.
        EXPECT_EQ(Slurp(Path("o.bmp")).size(), 54u + 30 * 30 * 4);
    }
    const std::string a = Slurp(Path("o.bmp"));
    Kwbthumb({"--square", "-s", "30", archive, Path("o.bmp")});
    EXPECT_EQ(Slurp(Path("o.bmp")), a);
}

TEST_F(KwbthumbTest, NoThumbnailExitsWithOneAndLeavesNothing) {
    testdoc::Layout noPreview;
    noPreview.withThumbnail = false;
    archive_test::Archive badArchive;
    badArchive.xml = archive_test::ThumbXml("3", "2", "missing");
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"not a document", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}},
        {"empty file", Bytes{}},
        {"page store without preview", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(8, 8), noPreview)},
        {"archive without the named chunk", archive_test::Write(badArchive)},
        {"truncated page store", [] {
             Bytes b = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(8, 8));
             b.resize(100);
             return b;
         }()},
    };
    for (const Case& c : cases) {
        const std::string in = Write("input", c.bytes);
        const std::string existing = Write("existing.png", Bytes{'o', 'l', 'd'});
        for (const std::string& out : {Path("new.png"), existing}) {
            Outcome r = Kwbthumb({in, out});
            EXPECT_EQ(r.status, 1) << c.what;
            EXPECT_NE(r.err.find(in), std::string::npos) << c.what << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << r.err;
        }
        EXPECT_EQ(Slurp(existing), "old") << c.what;  // a failed run leaves an old file alone
        EXPECT_EQ(Leftovers({in, existing}), std::vector<std::string>{}) << c.what;
    }
}

TEST_F(KwbthumbTest, ReplacesAnExistingOutput) {
    const std::string in = Write("doc.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(10, 10)));
    const std::string out = Write("thumb.png", Bytes(5000, 'x'));
    Outcome r = Kwbthumb({"-s", "16", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = Slurp(out);
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(Leftovers({in, out}), std::vector<std::string>{});
}

}  // namespace
