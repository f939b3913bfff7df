#include "tools/ThumbnailRequest.h"

#include <cstring>
#include <new>

#include "server/ClassFactory.h"
#include "server/Exports.h"
#include "server/FittedPreview.h"
#include "server/Module.h"

namespace kwb {

DocumentFormat SniffDocument(IStream* stream) {
    unsigned char head[8] = {};
    ULONG got = 0;
    stream->Read(head, sizeof head, &got);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (got >= 3 && std::memcmp(head, "hzd", 3) == 0) return DocumentFormat::PageStore;
    if (got >= 7 && std::memcmp(head, "rvnpack", 7) == 0) return DocumentFormat::LayeredArchive;
    return DocumentFormat::Unknown;
}

HRESULT RequestThumbnail(IStream* stream, DocumentFormat format, UINT size, HBITMAP* bitmap) {
    *bitmap = nullptr;
    // The page store is the registered class; the layered archive's factory is reached only
    // through CreateClassFactory, as no export hands it out.
    IClassFactory* factory = nullptr;
    HRESULT hr = E_FAIL;
    if (format == DocumentFormat::PageStore)
        hr = DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    else if (format == DocumentFormat::LayeredArchive)
        hr = CreateClassFactory(kLayeredArchiveReader, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (!factory) return FAILED(hr) ? hr : E_FAIL;

    IInitializeWithStream* init = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = init->Initialize(stream, STGM_READ);
    IThumbnailProvider* provider = nullptr;
    if (SUCCEEDED(hr)) hr = init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
    init->Release();
    if (FAILED(hr)) return hr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    hr = provider->GetThumbnail(size, bitmap, &alpha);
    provider->Release();
    if (hr != S_OK && *bitmap) {
        DeleteObject(*bitmap);
        *bitmap = nullptr;
    }
    return hr;
}

FitOutcome RequestFittedImage(IStream* stream, DocumentFormat format, UINT size, FittedImage& image) {
    image = {};
    const PreviewReader reader = ReaderOfKind(format == DocumentFormat::PageStore        ? kPageStoreReader
                                              : format == DocumentFormat::LayeredArchive ? kLayeredArchiveReader
                                                                                          : -1);
    if (!reader) return FitOutcome::UnknownFormat;
    try {
        FittedPreview preview(size);
        switch (reader(preview, stream)) {
            case tarn::PreviewOutcome::NoMemory: return FitOutcome::NoMemory;
            case tarn::PreviewOutcome::NotThisKind:
            case tarn::PreviewOutcome::NoPreview:
            case tarn::PreviewOutcome::Malformed: return FitOutcome::NotRead;
            case tarn::PreviewOutcome::Undecodable:
            case tarn::PreviewOutcome::Delivered: break;
        }
        // The provider would fit a blank 1 x 1 image here; a thumbnailer says what happened.
        if (!preview.Complete()) return FitOutcome::Undecodable;
        const tarn::CImage32& fitted = preview.Image();
        tarn::ScopedPixelLock lock(fitted);
        image.width = fitted.Width();
        image.height = fitted.Height();
        image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
        for (int32_t y = 0; y < image.height; ++y)
            if (const uint32_t* row = fitted.RowAddress(y))
                std::memcpy(&image.pixels[static_cast<size_t>(y) * image.width], row, static_cast<size_t>(image.width) * 4);
    } catch (const std::bad_alloc&) {
        image = {};
        return FitOutcome::NoMemory;
    }
    return FitOutcome::Fitted;
}

}  // namespace kwb
