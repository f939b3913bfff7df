#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "server/Module.h"
#include "server/FitIntoSquare.h"
#include "server/ZavelThumbnailProvider.h"

namespace {

// A reader that delivers a w x h preview of one colour and counts its calls.
struct FakeReader {
    int32_t width = 1;
    int32_t height = 1;
    uint32_t colour = 0xFF336699u;
    std::function<void()> before;  // may throw
    bool result = true;
    int calls = 0;
    IStream* lastStream = nullptr;

    PreviewReader Function() {
        return PreviewOfImage([this](tarn::CImage32& image, IStream* stream) {
            ++calls;
            lastStream = stream;
            if (before) before();
            image.Resize(width, height);
            image.Fill(colour);
            return result;
        });
    }
};

struct Thumbnail {
    HRESULT hr;
    HBITMAP bitmap;
    WTS_ALPHATYPE alpha;
};

// One provider with one stream, released at the end of the test.
class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseCount = ModuleObjectCount();
        baseBitmaps = platform::gdi::LiveBitmapCount();
        const BYTE bytes[4] = {1, 2, 3, 4};
        stream = SHCreateMemStream(bytes, sizeof bytes);
        provider = new ZavelThumbnailProvider(reader.Function());
    }
    void TearDown() override {
        if (provider) provider->Release();
        EXPECT_EQ(stream->Release(), 0u);  // nothing kept a reference
        platform::gdi::InjectDibFailure(platform::gdi::DibFailure::None);
        EXPECT_EQ(ModuleObjectCount(), baseCount);
        EXPECT_EQ(platform::gdi::LiveBitmapCount(), baseBitmaps);
    }

    IInitializeWithStream* Init() { return provider; }
    IThumbnailProvider* Thumbs() { return provider; }

    Thumbnail Get(UINT cx) {
        Thumbnail t{E_UNEXPECTED, reinterpret_cast<HBITMAP>(1), WTSAT_UNKNOWN};
        t.hr = Thumbs()->GetThumbnail(cx, &t.bitmap, &t.alpha);
        return t;
    }

    ULONG StreamRefs() {
        stream->AddRef();
        return stream->Release();
    }

    FakeReader reader;
    ZavelThumbnailProvider* provider = nullptr;
    IStream* stream = nullptr;
    LONG baseCount = 0;
    size_t baseBitmaps = 0;
};

const BYTE* Bits(HBITMAP bitmap, DIBSECTION& ds) {
    EXPECT_EQ(GetObject(bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
    return static_cast<const BYTE*>(ds.dsBm.bmBits);
}

// Canvas pixel (x, y) read from the bottom-up bitmap.
uint32_t CanvasPixel(const BYTE* bits, UINT cx, UINT x, UINT y) {
    const BYTE* p = bits + (static_cast<size_t>(cx - 1 - y) * cx + x) * 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

TEST_F(ProviderTest, FitsAndCentresThePreview) {
    struct Case {
        UINT cx;
        int32_t w, h;
        int32_t x, y, fw, fh;  // expected rectangle on the canvas
    } cases[] = {
        {256, 300, 200, 0, 43, 256, 170},  {256, 200, 300, 43, 0, 170, 256}, {255, 300, 200, 0, 42, 255, 170},
        {256, 7, 3, 0, 74, 256, 109},      {100, 3, 7, 29, 0, 42, 100},      {96, 1, 10, 44, 0, 9, 96},
        {256, 1000, 999, 0, 1, 256, 255},  {256, 1024, 1, 0, 128, 256, 1},   {256, 50, 50, 0, 0, 256, 256},
        {1, 300, 200, 0, 0, 1, 1},         {3, 1, 1024, 1, 0, 1, 3},         {256, 256, 170, 0, 43, 256, 170},
        {7, 7, 7, 0, 0, 7, 7},
    };
    for (const Case& c : cases) {
        reader.width = c.w;
        reader.height = c.h;
        ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
        Thumbnail t = Get(c.cx);
        ASSERT_EQ(t.hr, S_OK) << c.w << "x" << c.h << " at " << c.cx;
        EXPECT_EQ(t.alpha, WTSAT_ARGB);
        DIBSECTION ds{};
        const BYTE* bits = Bits(t.bitmap, ds);
        // The uniform opaque preview keeps its colour at any scale; all else stays transparent.
        int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1, wrong = 0;
        for (UINT y = 0; y < c.cx; ++y)
            for (UINT x = 0; x < c.cx; ++x) {
                const uint32_t p = CanvasPixel(bits, c.cx, x, y);
                if (p == 0) continue;
                if (p != reader.colour) ++wrong;
                minX = std::min<int32_t>(minX, x), maxX = std::max<int32_t>(maxX, x);
                minY = std::min<int32_t>(minY, y), maxY = std::max<int32_t>(maxY, y);
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(minX, c.x) << c.w << "x" << c.h << " at " << c.cx;
        EXPECT_EQ(minY, c.y) << c.w << "x" << c.h << " at " << c.cx;
        EXPECT_EQ(maxX - minX + 1, c.fw) << c.w << "x" << c.h << " at " << c.cx;
        EXPECT_EQ(maxY - minY + 1, c.fh) << c.w << "x" << c.h << " at " << c.cx;
        EXPECT_TRUE(DeleteObject(t.bitmap));
    }
    EXPECT_EQ(reader.calls, static_cast<int>(std::size(cases)));
}

TEST(FitIntoSquare, TruncatesInDoublePrecision) {
    EXPECT_EQ(FitIntoSquare(1, 10, 96).width, 9);     // 96 x 0.1 = 9.600000000000001
    EXPECT_EQ(FitIntoSquare(1024, 1, 256).height, 0);  // the resize makes it 1
    EXPECT_EQ(FitIntoSquare(5, 5, 77).width, 77);
    EXPECT_EQ(FitIntoSquare(5, 5, 77).height, 77);
}

TEST_F(ProviderTest, BitmapIsBottomUpBgra) {
    provider->Release();
    // A 2 x 2 preview at cx 2 is copied pixel for pixel.
    provider = new ZavelThumbnailProvider(PreviewOfImage([](tarn::CImage32& image, IStream*) {
        image.Resize(2, 2);
        image.SetPixel(0, 0, 0x80112233u);
        image.SetPixel(1, 0, 0xFF445566u);
        image.SetPixel(0, 1, 0x01000002u);
        image.SetPixel(1, 1, 0x00000000u);
        return true;
    }));
    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    Thumbnail t = Get(2);
    ASSERT_EQ(t.hr, S_OK);
    DIBSECTION ds{};
    const BYTE* bits = Bits(t.bitmap, ds);
    const BYTE expected[16] = {0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,   // bottom canvas row first
                               0x33, 0x22, 0x11, 0x80, 0x66, 0x55, 0x44, 0xFF};  // top row last
    EXPECT_EQ(std::vector<BYTE>(bits, bits + 16), std::vector<BYTE>(expected, expected + 16));
    const BITMAPINFOHEADER& h = ds.dsBmih;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 2);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(h.biSizeImage, 0u);
    DeleteObject(t.bitmap);
}

TEST_F(ProviderTest, GetThumbnailWithoutStreamTouchesNothing) {
    Thumbnail t = Get(64);
    EXPECT_EQ(t.hr, S_FALSE);
    EXPECT_EQ(t.bitmap, reinterpret_cast<HBITMAP>(1));
    EXPECT_EQ(t.alpha, WTSAT_UNKNOWN);
    EXPECT_EQ(reader.calls, 0);
}

TEST_F(ProviderTest, SecondInitializeKeepsTheFirstStream) {
    IStream* other = SHCreateMemStream(nullptr, 0);
    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    EXPECT_EQ(StreamRefs(), 2u);
    EXPECT_EQ(Init()->Initialize(other, STGM_READ), MakeHr(0x800704DF));
    Thumbnail t = Get(16);
    EXPECT_EQ(t.hr, S_OK);
    EXPECT_EQ(reader.lastStream, stream);
    DeleteObject(t.bitmap);
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(ProviderTest, EachInitializeServesOneRequest) {
    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    Thumbnail first = Get(16);
    EXPECT_EQ(first.hr, S_OK);
    EXPECT_EQ(StreamRefs(), 1u);  // given up after the reader ran
    Thumbnail second = Get(16);
    EXPECT_EQ(second.hr, S_FALSE);
    EXPECT_EQ(reader.calls, 1);
    EXPECT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    Thumbnail third = Get(16);
    EXPECT_EQ(third.hr, S_OK);
    EXPECT_EQ(reader.calls, 2);
    DeleteObject(first.bitmap);
    DeleteObject(third.bitmap);
}

TEST_F(ProviderTest, FailedReadGivesNoBitmapAndReleasesTheStream) {
    reader.result = false;
    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    Thumbnail t = Get(32);
    EXPECT_EQ(t.hr, S_FALSE);
    EXPECT_EQ(t.bitmap, reinterpret_cast<HBITMAP>(1));
    EXPECT_EQ(t.alpha, WTSAT_UNKNOWN);
    EXPECT_EQ(StreamRefs(), 1u);
}

// Exceptions stop at the COM boundary; the stream is given up on those paths too.
TEST_F(ProviderTest, ReaderExceptionsBecomeResultCodes) {
    struct Case {
        const char* what;
        std::function<void()> thrower;
        HRESULT expected;
    } cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"runtime_error", [] { throw std::runtime_error("IO error"); }, E_FAIL},
        {"logic_error", [] { throw std::invalid_argument("bad cast"); }, E_FAIL},
        {"not a std::exception", [] { throw 42; }, E_FAIL},
    };
    for (const Case& c : cases) {
        reader.before = c.thrower;
        ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
        Thumbnail t = Get(32);
        EXPECT_EQ(t.hr, c.expected) << c.what;
        EXPECT_EQ(t.bitmap, reinterpret_cast<HBITMAP>(1)) << c.what;
        EXPECT_EQ(StreamRefs(), 1u) << c.what;
    }
}

TEST_F(ProviderTest, DibSectionFailures) {
    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    platform::gdi::InjectDibFailure(platform::gdi::DibFailure::NoHandle);
    Thumbnail none = Get(32);
    EXPECT_EQ(none.hr, S_FALSE);
    EXPECT_EQ(none.bitmap, nullptr);
    EXPECT_EQ(none.alpha, WTSAT_UNKNOWN);

    ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
    platform::gdi::InjectDibFailure(platform::gdi::DibFailure::NoBits);
    Thumbnail noBits = Get(32);
    EXPECT_EQ(noBits.hr, S_FALSE);
    EXPECT_NE(noBits.bitmap, nullptr);  // the handle is the host's to delete
    EXPECT_EQ(noBits.alpha, WTSAT_UNKNOWN);
    EXPECT_TRUE(DeleteObject(noBits.bitmap));
}

TEST_F(ProviderTest, SizesTheHostCannotUse) {
    // cx 0 and a cx whose signed value is negative make no bitmap and copy nothing.
    for (UINT cx : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        ASSERT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);
        Thumbnail t = Get(cx);
        EXPECT_EQ(t.hr, S_FALSE) << cx;
        EXPECT_EQ(t.bitmap, nullptr) << cx;
    }
}

TEST_F(ProviderTest, InitializeArguments) {
    EXPECT_EQ(Init()->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha;
    EXPECT_EQ(Thumbs()->GetThumbnail(16, nullptr, &alpha), E_POINTER);
    EXPECT_EQ(Thumbs()->GetThumbnail(16, &bitmap, nullptr), E_POINTER);
}

// A stream object that does not answer IStream is not kept.
TEST_F(ProviderTest, StreamWithoutIStreamIsRefused) {
    struct NotAStream : IStream {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    } odd;
    EXPECT_EQ(Init()->Initialize(&odd, STGM_READ), E_NOINTERFACE);
    EXPECT_EQ(Get(16).hr, S_FALSE);
    EXPECT_EQ(Init()->Initialize(stream, STGM_READ), S_OK);  // nothing was held
    Thumbnail t = Get(16);
    EXPECT_EQ(t.hr, S_OK);
    DeleteObject(t.bitmap);
}

TEST_F(ProviderTest, IdentityIsTheThumbnailProviderPointer) {
    void* viaInit = nullptr;
    void* viaThumbs = nullptr;
    ASSERT_EQ(Init()->QueryInterface(IID_IUnknown, &viaInit), S_OK);
    ASSERT_EQ(Thumbs()->QueryInterface(IID_IUnknown, &viaThumbs), S_OK);
    EXPECT_EQ(viaInit, viaThumbs);
    EXPECT_EQ(viaInit, static_cast<void*>(Thumbs()));
    void* init = nullptr;
    ASSERT_EQ(Thumbs()->QueryInterface(IID_IInitializeWithStream, &init), S_OK);
    EXPECT_EQ(init, static_cast<void*>(Init()));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(Init()->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Init()->QueryInterface(IID_IStream, nullptr), E_POINTER);
    // Three references handed out, three given back: the count is shared by both interfaces.
    EXPECT_EQ(static_cast<IUnknown*>(viaInit)->Release(), 3u);
    EXPECT_EQ(static_cast<IUnknown*>(viaThumbs)->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown*>(init)->Release(), 1u);
}

TEST_F(ProviderTest, ObjectCountFollowsProviders) {
    EXPECT_EQ(ModuleObjectCount(), baseCount + 1);
    auto* second = new ZavelThumbnailProvider(reader.Function());
    EXPECT_EQ(ModuleObjectCount(), baseCount + 2);
    // A provider destroyed while holding a stream gives it back.
    ASSERT_EQ(second->Initialize(stream, STGM_READ), S_OK);
    EXPECT_EQ(static_cast<IThumbnailProvider*>(second)->AddRef(), 2u);
    EXPECT_EQ(static_cast<IThumbnailProvider*>(second)->Release(), 1u);
    EXPECT_EQ(static_cast<IInitializeWithStream*>(second)->Release(), 0u);
    EXPECT_EQ(ModuleObjectCount(), baseCount + 1);
    EXPECT_EQ(StreamRefs(), 1u);
}

// DllCanUnloadNow must not say S_OK while a dying provider still runs code of the module:
// its members (here the reader, and the stream it gives back) are destroyed first.
TEST_F(ProviderTest, ModuleCountOutlivesTheMembers) {
    struct Witness {
        LONG* seen;
        ~Witness() {
            if (seen) *seen = ModuleObjectCount();
        }
    };
    LONG seenByReader = -1;
    auto witness = std::make_shared<Witness>(Witness{&seenByReader});
    auto* dying = new ZavelThumbnailProvider([witness](tarn::PreviewSink&, IStream*) { return tarn::PreviewOutcome::NoPreview; });
    witness.reset();  // the provider's reader now holds the only reference
    const LONG alive = ModuleObjectCount();
    EXPECT_EQ(static_cast<IThumbnailProvider*>(dying)->Release(), 0u);
    EXPECT_EQ(seenByReader, alive);
    EXPECT_EQ(ModuleObjectCount(), alive - 1);
}

}  // namespace
