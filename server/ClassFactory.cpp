#include "server/ClassFactory.h"

#include <iterator>
#include <new>

#include "readers/archive/ReadLayeredArchiveThumbnail.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "server/Module.h"
#include "server/ZavelThumbnailProvider.h"

namespace {

using ReaderPointer = bool (*)(tarn::CImage32&, IStream*);
const ReaderPointer kReaders[] = {
    &ReadLayeredArchiveThumbnail,  // kind 0
    &ReadPageStoreThumbnail,       // kind 1
};

}  // namespace

ClassFactory::ClassFactory(int32_t kind) : kind_(kind) { ModuleAddRef(); }

ClassFactory::~ClassFactory() { ModuleRelease(); }

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
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    if (kind_ < 0 || kind_ >= static_cast<int32_t>(std::size(kReaders))) return E_OUTOFMEMORY;
    ZavelThumbnailProvider* provider;
    try {
        provider = new ZavelThumbnailProvider(ReaderFunction(kReaders[kind_]));
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
