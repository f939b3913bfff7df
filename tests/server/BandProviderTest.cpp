// The provider fits previews as their rows arrive; it must give what fitting the whole preview
// gave, byte for byte and outcome for outcome.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "ProviderDocuments.h"
#include "memory/GeneralHeap.h"
#include "server/ClassFactory.h"
#include "tests/support/FaultyStream.h"
#include "tests/support/WholePreviewThumbnail.h"

namespace provider_test {
namespace {

int SilentMessageBox(HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

class BandProvider : public ::testing::Test {
protected:
    void SetUp() override { previous_ = SetMessageBoxSink(&SilentMessageBox); }
    void TearDown() override { SetMessageBoxSink(previous_); }
    MessageBoxSink previous_ = nullptr;
};

// Takes the stream's reference.
Result Whole(const ImageReader& reader, IStream* stream, UINT cx) {
    HBITMAP bitmap = nullptr;
    const HRESULT hr = testdoc::WholePreviewThumbnail(reader, stream, cx, &bitmap);
    stream->Release();
    return Collect(hr, bitmap, cx);
}
Result Whole(const ImageReader& reader, const testdoc::Bytes& bytes, UINT cx) {
    return Whole(reader, testdoc::CreateMemoryStream(bytes), cx);
}

// The page-store reader the class factory gives its providers; takes the stream's reference.
Result ThroughFactory(IStream* stream, UINT cx) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CreateClassFactory(kPageStoreReader, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IThumbnailProvider* thumbs = nullptr;
    factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbs));
    factory->Release();
    IInitializeWithStream* init = nullptr;
    thumbs->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    init->Initialize(stream, STGM_READ);
    init->Release();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = thumbs->GetThumbnail(cx, &bitmap, &alpha);
    thumbs->Release();
    stream->Release();
    return Collect(hr, bitmap, cx);
}
Result ThroughFactory(const testdoc::Bytes& bytes, UINT cx) { return ThroughFactory(testdoc::CreateMemoryStream(bytes), cx); }

::testing::AssertionResult Same(const Result& got, const Result& want) {
    if (got.hr != want.hr) return ::testing::AssertionFailure() << "hr " << got.hr << ", want " << want.hr;
    if (got.bits != want.bits) {
        size_t k = 0;
        while (k < got.bits.size() && k < want.bits.size() && got.bits[k] == want.bits[k]) ++k;
        return ::testing::AssertionFailure() << "bits differ at byte " << k;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(BandProvider, MatchesTheWholePreviewPathOnGeneratedDocuments) {
    std::mt19937 rng(14);
    int thumbnails = 0;
    for (const Document& doc : GeneratedDocuments(180, 1414)) {
        for (UINT cx : SizesFor(doc, rng)) {
            const Result want = Whole(ReadPageStoreThumbnail, doc.bytes, cx);
            thumbnails += want.hr == S_OK;
            ASSERT_TRUE(Same(ThroughFactory(doc.bytes, cx), want)) << doc.what << " at " << cx;
            ASSERT_TRUE(Same(Request(RandomBands(ReadPageStoreThumbnail, rng()), doc.bytes, cx), want))
                << doc.what << " at " << cx << " in random bands";
        }
    }
    EXPECT_GT(thumbnails, 500);  // most documents are sound
}

IStream* Faulty(const testdoc::Bytes& bytes, testdoc::StreamFaults faults) {
    IStream* inner = testdoc::CreateMemoryStream(bytes);
    IStream* stream = testdoc::FaultyStream::Create(inner, faults);
    inner->Release();
    return stream;
}

// Failures that strike half-way through the pixels: a read that fails or comes back short at
// each call in turn, and a byte flipped at points spread over the file (frames cut short,
// running long or decoding to other bytes).
TEST_F(BandProvider, FaultsMidStreamGiveTheWholePreviewOutcome) {
    std::mt19937 rng(5);
    const struct {
        uint32_t w, h;
        uint8_t coding;
        int alpha;
    } docs[] = {{700, 500, testdoc::kZstd, 0}, {300, 900, testdoc::kStored, 2}, {1500, 3, testdoc::kZstd, 3}};
    for (const auto& d : docs) {
        testdoc::Layout layout;
        layout.coding = d.coding;
        layout.pixelForm = testdoc::BlobForm::Paged;
        const testdoc::Bytes bytes = testdoc::WritePageStoreDocument(RandomPreview(d.w, d.h, d.alpha, rng), layout);
        IStream* counting = Faulty(bytes, {});
        testdoc::FaultyStream* counter = static_cast<testdoc::FaultyStream*>(counting);
        counting->AddRef();
        ThroughFactory(counting, 96);
        const int reads = counter->ReadCalls();
        counting->Release();
        for (int n = 0; n < reads; ++n) {
            for (bool shortRead : {false, true}) {
                testdoc::StreamFaults faults;
                (shortRead ? faults.shortReadAt : faults.failReadAt) = n;
                for (UINT cx : {96u, 256u})
                    ASSERT_TRUE(Same(ThroughFactory(Faulty(bytes, faults), cx),
                                     Whole(ReadPageStoreThumbnail, Faulty(bytes, faults), cx)))
                        << d.w << "x" << d.h << (shortRead ? " short read " : " failed read ") << n << " at " << cx;
            }
        }
        for (int k = 1; k < 48; ++k) {
            testdoc::Bytes damaged = bytes;
            damaged[damaged.size() * static_cast<size_t>(k) / 48] ^= 0x55;
            ASSERT_TRUE(Same(ThroughFactory(damaged, 128), Whole(ReadPageStoreThumbnail, damaged, 128)))
                << d.w << "x" << d.h << " byte " << damaged.size() * static_cast<size_t>(k) / 48 << " flipped";
        }
    }
}

// Readers that stop, discard or overrun; each must end as the reader of a whole image with
// the same outcome ends.
TEST_F(BandProvider, DiscardsAndIncompleteReadsGiveTheUntouchedOutcome) {
    tarn::CImage32 picture;
    ASSERT_TRUE(picture.Resize(40, 30));
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) picture.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(y * 40 + x) * 2654435761u >> 8);
    const auto push = [&](tarn::PreviewSink& sink, int32_t rows) {
        for (int32_t y = 0; y < rows; ++y) sink.Rows(picture.RowAddress(y % 30), 1);
    };
    const ImageReader untouched = [](tarn::CImage32&, IStream*) { return true; };
    const ImageReader refused = [](tarn::CImage32&, IStream*) { return false; };
    const ImageReader decoded = [&](tarn::CImage32& image, IStream*) {
        image.Resize(40, 30);
        std::memcpy(image.Pixels(), picture.Pixels(), 40 * 30 * 4);
        return true;
    };
    struct Case {
        const char* what;
        std::function<bool(tarn::PreviewSink&)> read;
        const ImageReader* like;
    } cases[] = {
        {"no Begin", [](tarn::PreviewSink&) { return true; }, &untouched},
        {"discard after half the rows", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 15), s.Discard(); return true; }, &untouched},
        {"discard at once", [&](tarn::PreviewSink& s) { s.Begin(40, 30), s.Discard(); return true; }, &untouched},
        {"discard after every row", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 30), s.Discard(); return true; }, &untouched},
        {"rows missing", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 29); return true; }, &untouched},
        {"discard, then false", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 10), s.Discard(); return false; }, &refused},
        {"every row, then false", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 30); return false; }, &refused},
        {"every row", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 30); return true; }, &decoded},
        {"rows past the last", [&](tarn::PreviewSink& s) { s.Begin(40, 30), push(s, 30), push(s, 5); return true; }, &decoded},
        {"rows before Begin", [&](tarn::PreviewSink& s) { push(s, 3), s.Begin(40, 30), push(s, 30); return true; }, &decoded},
    };
    const testdoc::Bytes any{1, 2, 3};
    for (const Case& c : cases) {
        // A reader that claims every row even where it discarded or stopped short: the provider
        // must go by what its sink received.
        const PreviewReader reader = [&c](tarn::PreviewSink& sink, IStream*) {
            return c.read(sink) ? tarn::PreviewOutcome::Delivered : tarn::PreviewOutcome::NoPreview;
        };
        for (UINT cx : {1u, 7u, 30u, 40u, 41u, 256u})
            EXPECT_TRUE(Same(Request(reader, any, cx), Whole(*c.like, any, cx))) << c.what << " at " << cx;
    }
}

// What the host gets for each outcome a reader reports, whatever the reader did to the sink.
TEST_F(BandProvider, EachOutcomeHasOneResult) {
    using tarn::PreviewOutcome;
    const uint32_t red[4] = {0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u};
    const struct {
        PreviewOutcome outcome;
        bool rows;  // the reader delivered a 2 x 2 red preview first
        HRESULT hr;
        uint32_t centre;  // the bitmap's centre pixel, for S_OK
    } cases[] = {
        {PreviewOutcome::NotThisKind, false, S_FALSE, 0},
        {PreviewOutcome::NoPreview, false, S_FALSE, 0},
        {PreviewOutcome::NoPreview, true, S_FALSE, 0},
        {PreviewOutcome::Malformed, false, S_FALSE, 0},
        {PreviewOutcome::Undecodable, false, S_OK, 0},  // a transparent square
        {PreviewOutcome::Delivered, true, S_OK, 0xFFFF0000u},
        {PreviewOutcome::Delivered, false, S_OK, 0},  // no rows came: as Undecodable
        {PreviewOutcome::NoMemory, false, E_OUTOFMEMORY, 0},
    };
    const testdoc::Bytes any{1, 2, 3};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "outcome " << static_cast<int>(c.outcome) << (c.rows ? " after rows" : ""));
        const PreviewReader reader = [&c, &red](tarn::PreviewSink& sink, IStream*) {
            if (c.rows && sink.Begin(2, 2)) sink.Rows(red, 2);
            return c.outcome;
        };
        const Result got = Request(reader, any, 16);
        EXPECT_EQ(got.hr, c.hr);
        if (c.hr == S_OK) {
            ASSERT_EQ(got.bits.size(), 16u * 16u * 4u);
            uint32_t centre;
            std::memcpy(&centre, &got.bits[(8 * 16 + 8) * 4], 4);
            EXPECT_EQ(centre, c.centre);
        }
    }
}

// While alive, image memory of one byte count cannot be had (the general heap serves every
// size but the pools' 16, 64 and 128 KiB).
class NoMemoryForImagesOf {
public:
    explicit NoMemoryForImagesOf(size_t bytes) {
        refused = bytes;
        tarn::SetGeneralHeapAllocateForTesting(&Allocate);
    }
    ~NoMemoryForImagesOf() { tarn::SetGeneralHeapAllocateForTesting(nullptr); }
    NoMemoryForImagesOf(const NoMemoryForImagesOf&) = delete;
    NoMemoryForImagesOf& operator=(const NoMemoryForImagesOf&) = delete;

private:
    static void* Allocate(size_t bytes) { return bytes == refused ? nullptr : std::malloc(bytes); }
    static inline size_t refused = 0;
};

// An image that cannot be allocated fails the request as out of memory, so that the host asks
// again later: a one-pixel preview or a bare transparent canvas handed out instead would be
// kept as the document's thumbnail.
TEST_F(BandProvider, ImagesThatCannotBeAllocatedFailTheRequest) {
    std::mt19937 rng(22);
    testdoc::Layout undecodable;
    undecodable.coding = 7;
    const struct {
        const char* what;
        testdoc::Bytes document;
        size_t refused;  // bytes of the image that cannot be had
        HRESULT provider, whole;
    } cases[] = {
        {"fitted 256 x 170", testdoc::WritePageStoreDocument(RandomPreview(300, 200, 0, rng)), 256 * 170 * 4,
         E_OUTOFMEMORY, E_OUTOFMEMORY},
        {"fitted 256 x 256 for an undecodable preview",
         testdoc::WritePageStoreDocument(RandomPreview(300, 200, 0, rng), undecodable), 256 * 256 * 4, E_OUTOFMEMORY,
         E_OUTOFMEMORY},
        // Only the whole-preview path has a canvas; the provider places the preview straight
        // into the bitmap.
        {"canvas 256 x 256", testdoc::WritePageStoreDocument(RandomPreview(256, 170, 2, rng)), 256 * 256 * 4, S_OK,
         E_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result sound = ThroughFactory(c.document, 256);
        ASSERT_EQ(sound.hr, S_OK);
        ASSERT_TRUE(Same(Whole(ReadPageStoreThumbnail, c.document, 256), sound));
        NoMemoryForImagesOf fault(c.refused);
        const Result provider = ThroughFactory(c.document, 256);
        EXPECT_EQ(provider.hr, c.provider);
        if (c.provider == S_OK) {
            EXPECT_TRUE(Same(provider, sound));
        }
        EXPECT_EQ(Whole(ReadPageStoreThumbnail, c.document, 256).hr, c.whole);
    }
}

}  // namespace
}  // namespace provider_test
