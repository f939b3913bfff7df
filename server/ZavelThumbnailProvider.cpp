#include "server/ZavelThumbnailProvider.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "image/PushImage.h"
#include "server/FittedPreview.h"
#include "server/Module.h"

ZavelThumbnailProvider::ZavelThumbnailProvider(PreviewReader reader) : reader_(std::move(reader)) { ModuleAddRef(); }

// Its module reference goes in Release, after the members are destroyed.
ZavelThumbnailProvider::~ZavelThumbnailProvider() { ReleaseStream(); }

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
    if (n == 0) {
        delete this;
        ModuleRelease();
    }
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

PreviewReader PreviewOfImage(ImageReader reader) {
    return [reader = std::move(reader)](tarn::PreviewSink& sink, IStream* stream) {
        tarn::CImage32 image;
        if (!reader(image, stream)) return tarn::PreviewOutcome::NoPreview;
        return tarn::PushImage(sink, image);
    };
}

namespace {

// The one place where what a read came to becomes the host's answer. Delivered and Undecodable
// go on to the bitmap (the fitted preview, or the fitted blank of an untouched image).
HRESULT ResultOf(tarn::PreviewOutcome outcome) {
    switch (outcome) {
        case tarn::PreviewOutcome::Delivered:
        case tarn::PreviewOutcome::Undecodable: return S_OK;
        // No memory is no answer: the host asks again later, where a picture would be kept.
        case tarn::PreviewOutcome::NoMemory: return E_OUTOFMEMORY;
        case tarn::PreviewOutcome::NotThisKind:
        case tarn::PreviewOutcome::NoPreview:
        case tarn::PreviewOutcome::Malformed: break;
    }
    return S_FALSE;
}

// Writes the n x n bitmap's bottom-up bits: the canvas, transparent, with `image` placed at
// (x, y) and clipped to it. Rows go bottom row first, each pixel word least significant byte
// first, which is its layout in memory on every target.
void PlaceBottomUp(const tarn::CImage32& image, int32_t x, int32_t y, int32_t n, BYTE* out) {
    static_assert(std::endian::native == std::endian::little);
    tarn::ScopedPixelLock lock(image);
    const size_t rowBytes = static_cast<size_t>(n > 0 ? n : 0) * 4;
    // Columns [x0, x1) of the canvas show image columns from x0 - x on.
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(int64_t{x} + image.Width(), n);
    for (int32_t row = n - 1; row >= 0; --row, out += rowBytes) {
        const int64_t iy = int64_t{row} - y;
        if (iy < 0 || iy >= image.Height() || x0 >= x1) {
            std::memset(out, 0, rowBytes);
            continue;
        }
        std::memset(out, 0, static_cast<size_t>(x0) * 4);
        const int32_t sy = static_cast<int32_t>(iy);
        if (image.Pixels()) {
            std::memcpy(out + x0 * 4, image.RowAddress(sy) + (x0 - x), static_cast<size_t>(x1 - x0) * 4);
        } else {
            for (int64_t c = x0; c < x1; ++c) {
                const uint32_t p = image.GetPixel(static_cast<int32_t>(c - x), sy);
                std::memcpy(out + c * 4, &p, 4);
            }
        }
        std::memset(out + x1 * 4, 0, rowBytes - static_cast<size_t>(x1) * 4);
    }
}

}  // namespace

HRESULT ZavelThumbnailProvider::MakeThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) {
    const int32_t n = static_cast<int32_t>(cx);

    if (!stream_) return S_FALSE;

    // The preview is fitted as its rows arrive; only the fitted image is kept.
    FittedPreview preview(cx);
    const tarn::PreviewOutcome outcome = reader_(preview, stream_);
    ReleaseStream();
    if (const HRESULT hr = ResultOf(preview.Settle(outcome)); hr != S_OK) return hr;

    // Centred on a transparent square; the fitted image goes straight into the bitmap.
    const tarn::CImage32& fitted = preview.Image();
    const int32_t x = static_cast<int32_t>(cx >> 1) - fitted.Width() / 2;
    const int32_t y = static_cast<int32_t>(cx >> 1) - fitted.Height() / 2;

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

    PlaceBottomUp(fitted, x, y, n, static_cast<BYTE*>(bits));
    *pdwAlpha = WTSAT_ARGB;
    return S_OK;
}
