// One thumbnail request as the host makes it: class factory -> CreateInstance -> Initialize
// with an in-memory stream -> GetThumbnail(cx), then everything released and the accounting
// checked.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzAccounting.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Platform.h"

namespace fuzz {

inline void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// `factory` is consumed (released here). `errorAllowed`: an error HRESULT other than S_FALSE
// that this reader may legitimately end with (E_FAIL for a reader that lets exceptions through).
inline void RunThumbnailRequest(IClassFactory* factory, UINT cx, const std::vector<uint8_t>& file,
                                HRESULT errorAllowed = S_FALSE) {
    Accounting accounting;
    IInitializeWithStream* init = nullptr;
    Require(SUCCEEDED(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init))),
            "CreateInstance failed");
    factory->Release();
    IThumbnailProvider* provider = nullptr;
    Require(SUCCEEDED(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider))),
            "no IThumbnailProvider");

    IStream* stream = MemoryStream(file);
    Require(stream != nullptr, "no memory stream");
    Require(init->Initialize(stream, STGM_READ) == S_OK, "Initialize failed");
    stream->Release();  // the provider holds its own reference

    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = provider->GetThumbnail(cx, &bitmap, &alpha);
    // S_OK always comes with a bitmap of the asked size; S_FALSE without one.
    if (hr == S_OK) {
        Require(bitmap != nullptr && alpha == WTSAT_ARGB, "S_OK without an ARGB bitmap");
        BITMAP info{};
        Require(GetObjectW(bitmap, sizeof info, &info) == sizeof info, "bitmap cannot be described");
        Require(cx == 0 || (info.bmWidth == static_cast<LONG>(cx) && info.bmHeight == static_cast<LONG>(cx)),
                "bitmap of the wrong size");
    } else {
        Require(hr == S_FALSE || hr == errorAllowed, "GetThumbnail failed with an unexpected error");
    }
    if (bitmap) DeleteObject(bitmap);

    provider->Release();
    init->Release();
    accounting.Check();
}

}  // namespace fuzz
