// The reader function end to end: outcomes, the message box and placeholder, every failure
// point of the stream, and the repairs of LoadThumbnail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/HzdDocument.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "readers/pagestore/LoadPreview.h"
#include "readers/pagestore/ReadRootTable.h"
#include "tests/readers/pagestore/PageStoreTestSupport.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/FaultyStream.h"

namespace {

using pagestore_test::OpenBytes;
using pagestore_test::PageBufferAccounting;
using testdoc::BlobForm;
using testdoc::Bytes;
using testdoc::Layout;
using testdoc::PreviewImage;

using WString = std::basic_string<WCHAR>;

struct MessageBoxCall {
    HWND owner;
    WString text, caption;
    UINT type;
};
std::vector<MessageBoxCall> boxes;

int CaptureMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    boxes.push_back({owner, text, caption, type});
    return IDOK;
}

constexpr uint32_t kSentinel = 0x12345678;

class ReadPageStore : public PageBufferAccounting {
protected:
    void SetUp() override {
        PageBufferAccounting::SetUp();
        boxes.clear();
        previous_ = SetMessageBoxSink(&CaptureMessageBox);
    }
    void TearDown() override {
        SetMessageBoxSink(previous_);
        PageBufferAccounting::TearDown();
    }

    // Runs the reader on an image that starts 1 x 1 holding kSentinel.
    bool Run(IStream* stream, tarn::CImage32& image) {
        image.SetPixel(0, 0, kSentinel);
        return ReadPageStoreThumbnail(image, stream);
    }
    bool RunBytes(const Bytes& bytes, tarn::CImage32& image) {
        IStream* stream = testdoc::CreateMemoryStream(bytes);
        bool result = Run(stream, image);
        stream->Release();
        return result;
    }

private:
    MessageBoxSink previous_ = nullptr;
};

bool Untouched(const tarn::CImage32& image) {
    return image.Width() == 1 && image.Height() == 1 && image.GetPixel(0, 0) == kSentinel;
}

bool ShowsPreview(const tarn::CImage32& image, const PreviewImage& preview) {
    if (image.Width() != int32_t(preview.width) || image.Height() != int32_t(preview.height)) return false;
    for (uint32_t y = 0; y < preview.height; ++y)
        for (uint32_t x = 0; x < preview.width; ++x)
            if (image.GetPixel(int32_t(x), int32_t(y)) != preview.pixels[size_t(y) * preview.width + x]) return false;
    return true;
}

bool ShowsPlaceholder(const tarn::CImage32& image) {
    if (image.Width() != 64 || image.Height() != 64) return false;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x)
            if (image.GetPixel(x, y) != ((x / 8 + y / 8) % 2 == 0 ? 0xFFFFFFFFu : 0xFFE0E0E0u)) return false;
    return true;
}

const PreviewImage& SmallPreview() {
    static const PreviewImage preview = testdoc::MakeTestPattern(37, 23, 5);
    return preview;
}

enum class Outcome { FalseUntouched, TrueUntouched, TruePreview, BoxPlaceholder, FalseResized };

struct DocumentCase {
    const char* name;
    std::function<Bytes()> make;
    Outcome outcome;
};

Bytes WithByte(Bytes bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

Bytes Document(const Layout& layout = {}) { return testdoc::WritePageStoreDocument(SmallPreview(), layout); }

Bytes FirstPageOnly() {
    Bytes bytes = Document();
    bytes.resize(65536);
    return bytes;
}

Layout WithCoding(uint8_t coding) {
    Layout layout;
    layout.coding = coding;
    return layout;
}

// A document whose file pages are changed after writing.
Bytes Corrupted(const Layout& layout, const std::function<void(testdoc::DocumentInfo&)>& change) {
    testdoc::DocumentInfo info = testdoc::BuildPageStoreDocument(SmallPreview(), layout);
    change(info);
    return info.file.Flatten();
}

TEST_F(ReadPageStore, OutcomeTable) {
    Layout everywhere;
    everywhere.store.shuffleSeed = 99;
    everywhere.pagesFrom = 4090;  // blob pages across the head entries and a map page
    everywhere.pixelForm = BlobForm::Paged;
    everywhere.rootForm = BlobForm::Paged;
    Layout noThumbnail;
    noThumbnail.withThumbnail = false;
    Layout tooMany;  // 32768 x 16384 x 4 = 2^31 bytes
    tooMany.claimedWidth = 32768;
    tooMany.claimedHeight = 16384;
    Layout zeroHeight;
    zeroHeight.claimedHeight = 0;

    const DocumentCase cases[] = {
        {"empty stream", [] { return Bytes{}; }, Outcome::FalseUntouched},
        {"three bytes", [] { return Bytes{'h', 'z', 'd'}; }, Outcome::FalseUntouched},
        {"other magic", [] { return WithByte(Document(), 0, 'H'); }, Outcome::FalseUntouched},
        {"version 0x02", [] { return WithByte(Document(), 3, 0x02); }, Outcome::FalseUntouched},
        {"version 0x7F", [] { return WithByte(Document(), 3, 0x7F); }, Outcome::FalseUntouched},
        {"version 0x00", [] { return WithByte(Document(), 3, 0x00); }, Outcome::TruePreview},
        {"version 0x80", [] { return WithByte(Document(), 3, 0x80); }, Outcome::TruePreview},
        {"version 0xFF", [] { return WithByte(Document(), 3, 0xFF); }, Outcome::TruePreview},
        {"zstd pixels", [] { return Document(); }, Outcome::TruePreview},
        {"stored pixels", [] { return Document(WithCoding(testdoc::kStored)); }, Outcome::TruePreview},
        {"pages everywhere", [=] { return Document(everywhere); }, Outcome::TruePreview},
        {"one page only", [] { return FirstPageOnly(); }, Outcome::BoxPlaceholder},
        {"pixel coding 2", [] { return Document(WithCoding(2)); }, Outcome::TrueUntouched},
        {"pixel zstd error",
         [] {
             Layout layout;
             layout.declaredSize = 10;  // smaller than the frame: zstd refuses
             return Document(layout);
         },
         Outcome::TrueUntouched},
        {"no thumbnail field", [=] { return Document(noThumbnail); }, Outcome::FalseUntouched},
        {"preview of 2^31 bytes", [=] { return Document(tooMany); }, Outcome::FalseUntouched},
        {"preview height 0", [=] { return Document(zeroHeight); }, Outcome::FalseUntouched},
        {"root buffer of 11 bytes",
         [] {
             testdoc::PageStoreWriter writer;
             writer.WriteBlob(0, Bytes(11, 0));
             return writer.Finish().Flatten();
         },
         Outcome::FalseUntouched},
        {"root not a Document",
         [] {
             testdoc::PageStoreWriter writer;
             writer.WriteBlob(0, Bytes(64, 0xEE));
             return writer.Finish().Flatten();
         },
         Outcome::FalseUntouched},
        {"root head nextVidx 0",
         [] {
             Layout layout;
             layout.rootForm = BlobForm::Paged;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) { d.file.PokeU64(d.writer.FidxOf(0), 9, 0); });
         },
         Outcome::FalseUntouched},
        {"pixel head nextVidx 0",
         [] {
             Layout layout;
             layout.pixelForm = BlobForm::Paged;
             return Corrupted(layout,
                              [](testdoc::DocumentInfo& d) { d.file.PokeU64(d.writer.FidxOf(d.pixelBlobVidx), 9, 0); });
         },
         Outcome::BoxPlaceholder},
        {"pixel data page outside the map",
         [] {
             Layout layout;
             layout.pixelForm = BlobForm::Paged;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) {
                 d.file.PokeU64(d.writer.FidxOf(d.pixelBlobVidx), 17, 1u << 30);
             });
         },
         Outcome::BoxPlaceholder},
        {"pixel page past the end of the file",
         [] {
             Layout layout;
             layout.pixelForm = BlobForm::Paged;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) {
                 d.file.PokeU64(1, 36 + 16 * size_t(d.pixelBlobVidx), 1ull << 48);
             });
         },
         Outcome::BoxPlaceholder},
        {"pixel index chain unreadable where the size needs none",
         [] {
             Layout layout;
             layout.pixelForm = BlobForm::Paged;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) {
                 d.file.PokeU64(d.writer.FidxOf(d.pixelBlobVidx), 9, 1u << 30);
             });
         },
         Outcome::BoxPlaceholder},
        {"root index chain past the end of the file where the size needs none",
         [] {
             Layout layout;
             layout.rootForm = BlobForm::Paged;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) {
                 d.file.PokeU64(d.writer.FidxOf(0), 9, 3);
                 d.file.PokeU64(1, 36 + 16 * 3, 5000);
             });
         },
         Outcome::BoxPlaceholder},
        {"map chain loop",
         [] {
             Layout layout;
             layout.pagesFrom = 4094;
             return Corrupted(layout, [](testdoc::DocumentInfo& d) {
                 uint64_t map = d.writer.MapPageFidx()[0];
                 d.file.PokeU64(map, 8, map);
             });
         },
         Outcome::BoxPlaceholder},
    };
    for (const DocumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        tarn::CImage32 image;
        bool result = RunBytes(c.make(), image);
        switch (c.outcome) {
            case Outcome::FalseUntouched:
                EXPECT_FALSE(result);
                EXPECT_TRUE(Untouched(image));
                EXPECT_TRUE(boxes.empty());
                break;
            case Outcome::TrueUntouched:
                EXPECT_TRUE(result);
                EXPECT_TRUE(Untouched(image));
                EXPECT_TRUE(boxes.empty());
                break;
            case Outcome::TruePreview:
                EXPECT_TRUE(result);
                EXPECT_TRUE(ShowsPreview(image, SmallPreview()));
                EXPECT_TRUE(boxes.empty());
                break;
            case Outcome::BoxPlaceholder:
                EXPECT_FALSE(result);
                EXPECT_TRUE(ShowsPlaceholder(image));
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].owner, nullptr);
                EXPECT_EQ(boxes[0].text, WString(WSTR("throw error!")));
                EXPECT_EQ(boxes[0].caption, WString(WSTR("xxx")));
                EXPECT_EQ(boxes[0].type, UINT(MB_ICONINFORMATION));
                break;
            case Outcome::FalseResized: break;
        }
    }
}

TEST_F(ReadPageStore, PlaceholderColoursAtTheCorners) {
    tarn::CImage32 image;
    EXPECT_FALSE(RunBytes(FirstPageOnly(), image));
    EXPECT_EQ(image.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(image.GetPixel(8, 0), 0xFFE0E0E0u);
    EXPECT_EQ(image.GetPixel(7, 8), 0xFFE0E0E0u);
    EXPECT_EQ(image.GetPixel(8, 8), 0xFFFFFFFFu);
    EXPECT_EQ(image.GetPixel(63, 63), 0xFFFFFFFFu);
}

// Walks one failure through every Seek and Read the reader makes on a document with paged
// blobs: each ends cleanly with every page given back, and a failure after the magic shows
// the message box and the placeholder.
TEST_F(ReadPageStore, EveryStreamFailurePointEndsCleanly) {
    Layout layout;
    layout.pixelForm = BlobForm::Paged;
    layout.rootForm = BlobForm::Paged;
    layout.pagesFrom = 4093;
    const Bytes document = Document(layout);

    enum Kind { FailRead, ShortRead, FailSeek };
    for (Kind kind : {FailRead, ShortRead, FailSeek}) {
        for (int at = 0;; ++at) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " at call " << at);
            testdoc::StreamFaults faults;
            (kind == FailRead ? faults.failReadAt : kind == ShortRead ? faults.shortReadAt : faults.failSeekAt) = at;
            IStream* inner = testdoc::CreateMemoryStream(document);
            testdoc::FaultyStream* stream = testdoc::FaultyStream::Create(inner, faults);
            inner->Release();
            boxes.clear();
            tarn::CImage32 image;
            bool result = Run(stream, image);
            int calls = kind == FailSeek ? stream->SeekCalls() : stream->ReadCalls();
            stream->Release();
            EXPECT_EQ(pagestore::LivePageBufferCount(), 0u);
            if (at >= calls) {  // the fault was never reached: the document reads normally
                EXPECT_TRUE(result);
                EXPECT_TRUE(ShowsPreview(image, SmallPreview()));
                EXPECT_GT(at, 5);
                break;
            }
            EXPECT_FALSE(result);
            if (kind != FailSeek && at == 0) {  // the magic
                EXPECT_TRUE(Untouched(image));
                EXPECT_TRUE(boxes.empty());
            } else {
                EXPECT_TRUE(ShowsPlaceholder(image));
                EXPECT_EQ(boxes.size(), 1u);
            }
        }
    }
}

TEST_F(ReadPageStore, StatFailureShowsTheBox) {
    IStream* inner = testdoc::CreateMemoryStream(Document());
    testdoc::StreamFaults faults;
    faults.failStat = true;
    IStream* stream = testdoc::FaultyStream::Create(inner, faults);
    inner->Release();
    tarn::CImage32 image;
    EXPECT_FALSE(Run(stream, image));
    stream->Release();
    EXPECT_TRUE(ShowsPlaceholder(image));
    EXPECT_EQ(boxes.size(), 1u);
}

// Sound documents that were once turned away: each must give its preview.
TEST_F(ReadPageStore, SoundDocumentsGiveTheirPreview) {
    // Every row alike, so the pixel blob's middle data pages are equal and a writer may share them.
    PreviewImage uniformRows = testdoc::MakeTestPattern(256, 1024, 7);
    for (uint32_t y = 1; y < uniformRows.height; ++y)
        std::copy_n(uniformRows.pixels.begin(), 256, uniformRows.pixels.begin() + y * 256);
    Layout shared = WithCoding(testdoc::kStored);
    shared.store.shareIdenticalPages = true;
    Layout paged;
    paged.pixelForm = BlobForm::Paged;
    paged.rootForm = BlobForm::Paged;
    const PreviewImage wide = testdoc::MakeTestPattern(16385, 2, 3), tall = testdoc::MakeTestPattern(2, 16385, 4);

    const struct {
        const char* name;
        const PreviewImage* preview;
        Layout layout;
        int64_t statSize;  // what Stat reports; -1: the truth
    } cases[] = {
        {"data pages shared, blob larger than the file", &uniformRows, shared, -1},
        {"Stat reports 0", &SmallPreview(), paged, 0},
        {"Stat reports one page", &SmallPreview(), paged, 65536},
        {"16385 x 2, zstd", &wide, Layout{}, -1},
        {"16385 x 2, stored", &wide, WithCoding(testdoc::kStored), -1},
        {"2 x 16385, zstd", &tall, Layout{}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testdoc::DocumentInfo info = testdoc::BuildPageStoreDocument(*c.preview, c.layout);
        if (c.layout.store.shareIdenticalPages) {
            ASSERT_LT(info.file.size, c.preview->pixels.size() * 4) << "the blob is larger than the file";
        }
        IStream* inner = testdoc::CreateMemoryStream(info.file.Flatten());
        testdoc::StreamFaults faults;
        faults.statSize = c.statSize;
        IStream* stream = testdoc::FaultyStream::Create(inner, faults);
        inner->Release();
        tarn::CImage32 image;
        EXPECT_TRUE(Run(stream, image));
        stream->Release();
        EXPECT_TRUE(ShowsPreview(image, *c.preview));
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(ReadPageStore, PreviewSizesAcceptedUpTo31BitsOfBytes) {
    const struct {
        uint32_t width, height;
        bool accepted;
    } cases[] = {
        {1, 1, true},           {0, 1, false},          {1, 0, false},          {16384, 16384, true},
        {16385, 2, true},       {2, 16385, true},       {32768, 16384, false},  {16384, 32768, false},
        {0x1FFFFFFF, 1, true},  {0x20000000, 1, false}, {1, 0x1FFFFFFF, true},  {46341, 46341, false},
        {0xFFFFFFFF, 1, false}, {65536, 65536, false},  {23170, 23170, true},   {0x80000001, 2, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tarn::PreviewSizeAccepted(c.width, c.height), c.accepted) << c.width << " x " << c.height;
}

// A pixel blob shorter than the preview gives what it holds and 0 after it.
TEST_F(ReadPageStore, ShortPixelBlobsGiveWhatTheyHoldThenZeros) {
    const PreviewImage& preview = SmallPreview();
    const Bytes pixels = testdoc::PixelBytes(preview);
    const size_t keep = pixels.size() / 2 + 3;  // not a whole pixel
    Bytes half(pixels.begin(), pixels.begin() + ptrdiff_t(keep));
    Bytes halfThenZeros = half;
    halfThenZeros.resize(pixels.size(), 0);
    const Bytes zeros(pixels.size(), 0);
    const struct {
        const char* name;
        Bytes coded;
        const Bytes& expected;
    } cases[] = {
        {"stored, short", testdoc::StoredCoding(half), halfThenZeros},
        {"zstd, produces less than declared", testdoc::ZstdCoding(half, 3, pixels.size()), halfThenZeros},
        {"zstd, declares and produces less", testdoc::ZstdCoding(half), halfThenZeros},
        {"zstd, no frame at all", Bytes{testdoc::kZstd, 0, 0, 0, 0, 0, 0, 0, 0}, zeros},
        {"stored, nothing", Bytes{testdoc::kStored}, zeros},
    };
    for (const auto& c : cases) {
        // A fresh image (decoded in place) and one too large to put back (decoded aside).
        for (int32_t callerEdge : {1, 100}) {
            SCOPED_TRACE(testing::Message() << c.name << ", caller image " << callerEdge);
            testdoc::PageStoreWriter writer;
            writer.SetPage(0, {});
            writer.WriteBlob(5, c.coded);
            writer.WriteBlob(0, testdoc::MetadataBuffer(testdoc::ThumbnailFields{preview.width, preview.height, 5}));
            tarn::CImage32 image;
            ASSERT_TRUE(image.Resize(callerEdge, callerEdge));
            image.Fill(0xEEEEEEEE);
            IStream* stream = testdoc::CreateMemoryStream(writer.Finish().Flatten());
            EXPECT_TRUE(ReadPageStoreThumbnail(image, stream));
            stream->Release();
            ASSERT_EQ(image.Width(), int32_t(preview.width));
            ASSERT_EQ(image.Height(), int32_t(preview.height));
            EXPECT_EQ(std::memcmp(image.Pixels(), c.expected.data(), c.expected.size()), 0);
        }
    }
}

// An image whose Resize fails the way a failed allocation does: left 1 x 1.
class FailingResizeImage : public tarn::CImage32 {
public:
    bool Resize(int32_t, int32_t) override {
        tarn::CImage32::Resize(1, 1);
        return false;
    }
};

TEST_F(ReadPageStore, FailedResizeReportsNoThumbnailAndWritesNothing) {
    FailingResizeImage image;
    image.SetPixel(0, 0, kSentinel);
    IStream* stream = testdoc::CreateMemoryStream(Document());
    EXPECT_FALSE(ReadPageStoreThumbnail(image, stream));
    stream->Release();
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.GetPixel(0, 0), kSentinel);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReadPageStore, LoadThumbnailReportsTheStoredSize) {
    auto opened = OpenBytes(Document());
    tarn::HzdDocument document(std::move(opened->Owned()));
    tarn::CImage32 image;
    int width = 0, height = 0;
    EXPECT_TRUE(tarn::LoadThumbnail(image, document, width, height));
    EXPECT_EQ(width, 37);
    EXPECT_EQ(height, 23);
}

TEST_F(ReadPageStore, NoDecompressionContextLeavesTheImageUntouched) {
    auto opened = OpenBytes(Document());
    tarn::HzdDocument document(std::move(opened->Owned()), []() -> ZSTD_DCtx* { return nullptr; });
    tarn::CImage32 image;
    image.SetPixel(0, 0, kSentinel);
    int width = 0, height = 0;
    EXPECT_TRUE(tarn::LoadThumbnail(image, document, width, height));
    EXPECT_TRUE(Untouched(image));
}

TEST_F(ReadPageStore, RootTableErrorsCarryTheirMessages) {
    struct Case {
        const char* name;
        Bytes root;
        const char* message;
    };
    const Case cases[] = {
        {"11 bytes", Bytes(11, 0), "Wrong binary format"},
        {"empty", Bytes{}, "Wrong binary format"},
        {"not a Document", Bytes(64, 0xEE), "Wrong binary format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testdoc::PageStoreWriter writer;
        writer.WriteBlob(0, c.root, BlobForm::Inline);
        auto opened = OpenBytes(writer.Finish().Flatten());
        tarn::HzdDocument document(std::move(opened->Owned()));
        try {
            tarn::ReadRootTable(document);
            ADD_FAILURE() << "no exception";
        } catch (const tarn::HZDError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(MessageBoxSink, DefaultWritesCaptionAndTextToStandardError) {
    SetMessageBoxSink(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, WSTR("throw error!"), WSTR("xxx"), MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "xxx: throw error!\n");
}

}  // namespace

namespace {

// Pixels land in the image directly only when nothing else could change the outcome; these
// cases take the other road and must end the same way.
TEST_F(ReadPageStore, BlobLargerThanThePreviewGivesItsFirstRows) {
    const PreviewImage& preview = SmallPreview();
    for (uint8_t coding : {testdoc::kZstd, testdoc::kStored}) {
        SCOPED_TRACE(int(coding));
        Layout layout = WithCoding(coding);
        layout.claimedWidth = 20;  // rows of 20 taken from data written with rows of 37
        tarn::CImage32 image;
        EXPECT_TRUE(RunBytes(Document(layout), image));
        ASSERT_EQ(image.Width(), 20);
        ASSERT_EQ(image.Height(), int32_t(preview.height));
        EXPECT_EQ(std::memcmp(image.Pixels(), preview.pixels.data(), 20 * preview.height * 4), 0);
    }
}

TEST_F(ReadPageStore, LargeCallerImageIsLeftAsItWasWhenThePixelsCannotBeDecoded) {
    Layout broken;
    broken.declaredSize = 10;  // zstd refuses: the frame holds more
    for (bool decodable : {false, true}) {
        SCOPED_TRACE(decodable);
        tarn::CImage32 image;
        ASSERT_TRUE(image.Resize(100, 100));
        image.Fill(0xCAFEF00D);
        IStream* stream = testdoc::CreateMemoryStream(decodable ? Document() : Document(broken));
        EXPECT_TRUE(ReadPageStoreThumbnail(image, stream));
        stream->Release();
        if (decodable) {
            EXPECT_TRUE(ShowsPreview(image, SmallPreview()));
        } else {
            ASSERT_EQ(image.Width(), 100);
            EXPECT_EQ(image.GetPixel(0, 0), 0xCAFEF00Du);
            EXPECT_EQ(image.GetPixel(99, 99), 0xCAFEF00Du);
        }
    }
}

}  // namespace
