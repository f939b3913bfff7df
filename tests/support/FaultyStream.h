// An IStream wrapper that injects failures: a failing Stat or one reporting a false size, the
// n-th Seek or Read failing, the n-th Read coming back short. Calls are counted from 0 in the order the wrapped stream sees
// them, so a test can walk a failure through every call a reader makes.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace testdoc {

struct StreamFaults {
    bool failStat = false;
    int failSeekAt = -1;   // this Seek call returns STG_E_INVALIDFUNCTION
    int failReadAt = -1;   // this Read call returns STG_E_READFAULT, nothing read
    int shortReadAt = -1;  // this Read call returns S_OK with half the bytes
    int64_t statSize = -1; // >= 0: Stat succeeds and reports this size, whatever the stream holds
};

class FaultyStream final : public IStream {
public:
    // Takes its own reference on `inner`. Reference count 1.
    static FaultyStream* Create(IStream* inner, StreamFaults faults);

    int SeekCalls() const { return seeks_; }
    int ReadCalls() const { return reads_; }
    int StatCalls() const { return stats_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    FaultyStream(IStream* inner, StreamFaults faults);
    ~FaultyStream();

    IStream* inner_;
    StreamFaults faults_;
    int seeks_ = 0, reads_ = 0, stats_ = 0;
    ULONG refs_ = 1;
};

}  // namespace testdoc
