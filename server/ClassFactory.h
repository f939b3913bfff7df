// Makes thumbnail providers; its kind chooses the reader function each one gets.
#pragma once

#include "platform/Platform.h"
#include "server/ZavelThumbnailProvider.h"

enum ReaderKind : int32_t {
    kLayeredArchiveReader = 0,
    kPageStoreReader = 1,
};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(int32_t kind);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    ~ClassFactory();

    int32_t kind_;
    LONG refCount_ = 1;  // interlocked
};

// A factory of the given kind asked for riid, as DllGetClassObject does for kind 1. Tools
// use it to reach kind 0, which no export hands out.
HRESULT CreateClassFactory(int32_t kind, REFIID riid, void** ppv);

// The reader function the providers of a kind get; empty for an unknown kind. Tools that
// need the fitted preview without the square run it into a FittedPreview themselves.
PreviewReader ReaderOfKind(int32_t kind);
