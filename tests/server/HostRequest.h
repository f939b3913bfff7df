// One thumbnail request as a shell host makes it: a fresh provider from the factory, the
// document's stream handed over, one thumbnail, everything released again.
#pragma once

#include "platform/Platform.h"
#include "tests/support/DocumentWriter.h"

// True when the result is `expected`: S_OK with a bitmap, S_FALSE without one. The factory is
// released here; a bitmap goes to `deleteBitmap`.
inline bool RequestThumbnail(IClassFactory* factory, const testdoc::Bytes& document, UINT cx, HRESULT expected,
                             BOOL (*deleteBitmap)(HBITMAP)) {
    IInitializeWithStream* init = nullptr;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    factory->Release();
    if (created != S_OK) return false;
    IStream* stream = testdoc::CreateMemoryStream(document);
    const HRESULT initialised = init->Initialize(stream, STGM_READ);
    stream->Release();
    IThumbnailProvider* thumbs = nullptr;
    bool ok = initialised == S_OK &&
              init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbs)) == S_OK;
    if (ok) {
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        ok = thumbs->GetThumbnail(cx, &bitmap, &alpha) == expected && (bitmap != nullptr) == (expected == S_OK);
        if (bitmap) deleteBitmap(bitmap);
        thumbs->Release();
    }
    init->Release();
    return ok;
}
