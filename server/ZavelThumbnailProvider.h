// The object the shell asks for a thumbnail: takes a document stream, runs the reader
// function it was built with, and hands back the preview fitted into a square bitmap.
#pragma once

#include <functional>

#include "image/CImage32.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"

// Pushes the document's stored preview into the sink: its size, then its rows. False when
// the stream is not of the reader's format or cannot be read. True without a preview (no
// Begin, or a Discard after it) means the preview could not be decoded: the provider then
// fits a fresh 1 x 1 image, as a reader that leaves its image untouched.
using PreviewReader = std::function<bool(tarn::PreviewSink& sink, IStream* stream)>;

// A reader that fills a whole image, with the same outcomes.
using ImageReader = std::function<bool(tarn::CImage32& image, IStream* stream)>;

// An image reader as a preview reader: the image it fills goes to the sink as one band.
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

// Fitted size of a w x h preview inside a cx x cx square, aspect ratio kept; sides may
// come out 0, which the resize then turns into 1.
struct FittedSize {
    int32_t width;
    int32_t height;
};
FittedSize FitIntoSquare(int32_t w, int32_t h, UINT cx);
