#include "tests/support/WholePreviewThumbnail.h"

#include <algorithm>
#include <cstring>

#include "image/BlendParams.h"
#include "image/CImage32.h"
#include "image/Resample.h"
#include "server/FitIntoSquare.h"

namespace testdoc {

HRESULT WholePreviewThumbnail(const ImageReader& reader, IStream* stream, UINT cx, HBITMAP* bitmap) {
    const int32_t n = static_cast<int32_t>(cx);
    tarn::CImage32 source, scaled;
    if (!reader(source, stream)) return S_FALSE;

    const FittedSize fit = FitIntoSquare(source.Width(), source.Height(), cx);
    const tarn::CImage32* placed = &source;
    // Images that cannot be allocated fail the request; they are never handed out smaller.
    if (std::max(fit.width, 1) != source.Width() || std::max(fit.height, 1) != source.Height()) {
        if (!scaled.Resize(fit.width, fit.height)) return E_OUTOFMEMORY;
        tarn::Resample(scaled, source, scaled.Width(), scaled.Height());
        placed = &scaled;
    }
    // An image covering the whole square is the canvas.
    const tarn::CImage32* picture = placed;
    tarn::CImage32 canvas;
    if (!(placed->Width() == n && placed->Height() == n)) {
        if (!canvas.Resize(n, n)) return E_OUTOFMEMORY;
        canvas.Fill(0x00000000u);
        tarn::BlendParams params;
        params.reserved = -1;
        params.mode = 0;
        params.opacity = 255;
        params.linearLight = 0;
        params.colour = 0xFF000000u;
        params.keyColour = 0;
        canvas.Blit(params, static_cast<int32_t>(cx >> 1) - placed->Width() / 2,
                    static_cast<int32_t>(cx >> 1) - placed->Height() / 2, *placed, placed->Width(), placed->Height());
        picture = &canvas;
    }

    BITMAPINFO info{};
    BITMAPINFOHEADER& h = info.bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = n;
    h.biHeight = n;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    void* bits = nullptr;
    *bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!*bitmap || !bits) return S_FALSE;
    BYTE* out = static_cast<BYTE*>(bits);
    const bool whole = picture->Width() == n && picture->Height() == n && picture->Pixels();
    for (int32_t row = n - 1; row >= 0; --row, out += static_cast<size_t>(n) * 4) {
        if (whole) {
            std::memcpy(out, picture->RowAddress(row), static_cast<size_t>(n) * 4);
            continue;
        }
        for (int32_t col = 0; col < n; ++col) {
            const uint32_t p = picture->GetPixel(col, row);
            std::memcpy(out + static_cast<size_t>(col) * 4, &p, 4);
        }
    }
    return S_OK;
}

}  // namespace testdoc
