#include "server/ClassFactory.h"

#include <new>
#include <utility>

#include "readers/archive/ReadLayeredArchiveThumbnail.h"
#include "readers/pagestore/ReadPageStorePreview.h"
#include "server/Module.h"
#include "server/ZavelThumbnailProvider.h"

// Page-store previews stream band by band; layered-archive previews (at most 1024 x 1024) are
// read whole and handed over as one band.
PreviewReader ReaderOfKind(int32_t kind) {
    switch (kind) {
        case kLayeredArchiveReader: return PreviewOfImage(&ReadLayeredArchiveThumbnail);
        case kPageStoreReader: return &ReadPageStorePreview;
        default: return nullptr;
    }
}

ClassFactory::ClassFactory(int32_t kind) : kind_(kind) { ModuleAddRef(); }

// Its module reference goes in Release, once the object is gone.
ClassFactory::~ClassFactory() = default;

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {
        {&IID_IClassFactory, OFFSETOFCLASS(IClassFactory, ClassFactory)},
        {nullptr, 0},
    };
    return QISearch(this, table, riid, ppv);
}

ULONG ClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG ClassFactory::Release() {
    LONG n = InterlockedDecrement(&refCount_);
    if (n == 0) {
        delete this;
        ModuleRelease();
    }
    return static_cast<ULONG>(n);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    ZavelThumbnailProvider* provider;
    try {
        PreviewReader reader = ReaderOfKind(kind_);
        if (!reader) return E_OUTOFMEMORY;
        provider = new ZavelThumbnailProvider(std::move(reader));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
    if (fLock) ModuleAddRef();
    else ModuleRelease();
    return S_OK;
}

HRESULT CreateClassFactory(int32_t kind, REFIID riid, void** ppv) {
    auto* factory = new (std::nothrow) ClassFactory(kind);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
