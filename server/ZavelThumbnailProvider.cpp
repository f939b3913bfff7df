#include "server/ZavelThumbnailProvider.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "image/BlendParams.h"
#include "image/Resample.h"
#include "server/Module.h"

ZavelThumbnailProvider::ZavelThumbnailProvider(ReaderFunction reader) : reader_(std::move(reader)) { ModuleAddRef(); }

ZavelThumbnailProvider::~ZavelThumbnailProvider() {
    ReleaseStream();
    ModuleRelease();
}

HRESULT ZavelThumbnailProvider::QueryInterface(REFIID riid, void** ppv) {
    // The first entry answers IUnknown, which makes it the object's identity.
    static const QITAB table[] = {
        {&IID_IThumbnailProvider, OFFSETOFCLASS(IThumbnailProvider, ZavelThumbnailProvider)},
        {&IID_IInitializeWithStream, OFFSETOFCLASS(IInitializeWithStream, ZavelThumbnailProvider)},
        {nullptr, 0},
    };
    return QISearch(this, table, riid, ppv);
}

ULONG ZavelThumbnailProvider::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG ZavelThumbnailProvider::Release() {
    LONG n = InterlockedDecrement(&refCount_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT ZavelThumbnailProvider::Initialize(IStream* stream, DWORD) {
    if (stream_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    if (!stream) return E_INVALIDARG;
    return stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream_));
}

void ZavelThumbnailProvider::ReleaseStream() {
    if (IStream* s = std::exchange(stream_, nullptr)) s->Release();
}

// The COM boundary: nothing thrown below may reach the host.
HRESULT ZavelThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) {
    if (!phbmp || !pdwAlpha) return E_POINTER;
    try {
        return MakeThumbnail(cx, phbmp, pdwAlpha);
    } catch (const std::bad_alloc&) {
        ReleaseStream();
        return E_OUTOFMEMORY;
    } catch (...) {
        ReleaseStream();
        return E_FAIL;
    }
}

FittedSize FitIntoSquare(int32_t w, int32_t h, UINT cx) {
    const int32_t n = static_cast<int32_t>(cx);
    const double r = h == 0 ? 1.0 : static_cast<double>(w) / static_cast<double>(h);
    // |n x r| and |n / r| never exceed |n| on their branches, so the truncations fit.
    if (w < h || r < 1.0) return {static_cast<int32_t>(n * r), n};
    return {n, static_cast<int32_t>(n / r)};
}

namespace {

// Copies `image` into the bottom-up bits of an n x n bitmap: bottom row first, each row the
// pixel words least significant byte first, which is their layout in memory on every target.
// Pixels the image does not have count as 0.
void CopyBottomUp(const tarn::CImage32& image, int32_t n, BYTE* out) {
    static_assert(std::endian::native == std::endian::little);
    const size_t rowBytes = static_cast<size_t>(n > 0 ? n : 0) * 4;
    const bool whole = image.Width() == n && image.Height() == n && image.Pixels();
    for (int32_t row = n - 1; row >= 0; --row, out += rowBytes) {
        if (whole) {
            std::memcpy(out, image.RowAddress(row), rowBytes);
            continue;
        }
        std::memset(out, 0, rowBytes);
        const int32_t have = row < image.Height() ? std::min(image.Width(), n) : 0;
        for (int32_t col = 0; col < have; ++col) {
            const uint32_t p = image.GetPixel(col, row);
            std::memcpy(out + static_cast<size_t>(col) * 4, &p, 4);
        }
    }
}

}  // namespace

HRESULT ZavelThumbnailProvider::MakeThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) {
    const int32_t n = static_cast<int32_t>(cx);

    if (!stream_) return S_FALSE;

    tarn::CImage32 source;
    tarn::CImage32 scaled;
    const bool read = reader_(source, stream_);
    ReleaseStream();
    if (!read) return S_FALSE;

    // Resampling to the source's own size copies every pixel unchanged, so a preview that
    // already has the fitted size is placed as it is.
    const FittedSize fit = FitIntoSquare(source.Width(), source.Height(), cx);
    const tarn::CImage32* placed = &source;
    if (std::max(fit.width, 1) != source.Width() || std::max(fit.height, 1) != source.Height()) {
        scaled.Resize(fit.width, fit.height);
        tarn::Resample(scaled, source, scaled.Width(), scaled.Height());
        placed = &scaled;
    }
    const int32_t sw = placed->Width();
    const int32_t sh = placed->Height();

    // A placed image that covers the whole square would overwrite every pixel of the canvas:
    // it goes to the bitmap directly, and no canvas is made (an untouched cx x cx block still
    // costs the heap's growth and trimming, and fresh pages for the bitmap after it).
    const tarn::CImage32* picture = placed;
    tarn::CImage32 canvas;
    if (!(sw == n && sh == n)) {
        // A canvas that cannot be allocated stays 1 x 1; the request goes on regardless.
        canvas.Resize(n, n);
        canvas.Fill(0x00000000u);
        const int32_t x = static_cast<int32_t>(cx >> 1) - sw / 2;
        const int32_t y = static_cast<int32_t>(cx >> 1) - sh / 2;
        tarn::BlendParams params;
        params.reserved = -1;
        params.mode = 0;  // plain copy of each pixel word
        params.opacity = 255;
        params.linearLight = 0;
        params.colour = 0xFF000000u;
        params.keyColour = 0;
        canvas.Blit(params, x, y, *placed, sw, sh);
        picture = &canvas;
    }

    BITMAPINFO info{};
    BITMAPINFOHEADER& h = info.bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = n;
    h.biHeight = n;  // positive: bottom-up rows
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    void* bits = nullptr;
    *phbmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!*phbmp || !bits) return S_FALSE;

    CopyBottomUp(*picture, n, static_cast<BYTE*>(bits));
    *pdwAlpha = WTSAT_ARGB;
    return S_OK;
}
