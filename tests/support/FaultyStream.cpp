#include "tests/support/FaultyStream.h"

namespace testdoc {

FaultyStream* FaultyStream::Create(IStream* inner, StreamFaults faults) { return new FaultyStream(inner, faults); }

FaultyStream::FaultyStream(IStream* inner, StreamFaults faults) : inner_(inner), faults_(faults) { inner_->AddRef(); }

FaultyStream::~FaultyStream() { inner_->Release(); }

HRESULT FaultyStream::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
        AddRef();
        *ppv = static_cast<IStream*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG FaultyStream::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT FaultyStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    int call = reads_++;
    if (call == faults_.failReadAt) {
        if (pcbRead) *pcbRead = 0;
        return STG_E_READFAULT;
    }
    if (call == faults_.shortReadAt) cb /= 2;
    return inner_->Read(pv, cb, pcbRead);
}

HRESULT FaultyStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) {
    if (seeks_++ == faults_.failSeekAt) return STG_E_INVALIDFUNCTION;
    return inner_->Seek(move, origin, newPos);
}

HRESULT FaultyStream::Stat(STATSTG* st, DWORD flags) {
    ++stats_;
    if (faults_.failStat) return STG_E_ACCESSDENIED;
    HRESULT hr = inner_->Stat(st, flags);
    if (SUCCEEDED(hr) && faults_.statSize >= 0) st->cbSize.QuadPart = static_cast<uint64_t>(faults_.statSize);
    return hr;
}

}  // namespace testdoc
