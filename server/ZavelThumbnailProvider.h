// The object the shell asks for a thumbnail: takes a document stream, runs the reader
// function it was built with, and hands back the preview fitted into a square bitmap.
#pragma once

#include <functional>

#include "image/CImage32.h"
#include "image/PreviewOutcome.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"

// Pushes the document's stored preview into the sink, its size and then its rows, and says
// what that came to.
using PreviewReader = std::function<tarn::PreviewOutcome(tarn::PreviewSink& sink, IStream* stream)>;

// A reader that fills a whole image: true with the image resized to the preview and every
// pixel written, or true with the image untouched when the preview cannot be decoded; false
// when there is no preview.
using ImageReader = std::function<bool(tarn::CImage32& image, IStream* stream)>;

// An image reader as a preview reader: the image it fills goes to the sink as one band (an
// untouched image, the fresh 1 x 1 one, included).
PreviewReader PreviewOfImage(ImageReader reader);

class ZavelThumbnailProvider final : public IInitializeWithStream, public IThumbnailProvider {
public:
    explicit ZavelThumbnailProvider(PreviewReader reader);

    // IUnknown, shared by both interfaces; identity is the IThumbnailProvider pointer.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IInitializeWithStream
    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD grfMode) override;

    // IThumbnailProvider
    HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) override;

private:
    ~ZavelThumbnailProvider();

    HRESULT MakeThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha);
    void ReleaseStream();

    PreviewReader reader_;
    LONG refCount_ = 1;          // interlocked
    IStream* stream_ = nullptr;  // one reference held while not null; used by one thread
};
