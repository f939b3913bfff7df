#include "Com.h"

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IInitializeWithStream = {0xB824B49D, 0x22AC, 0x4161, {0xAC, 0x8A, 0x99, 0x16, 0xE8, 0xFA, 0x3F, 0x7F}};
const IID IID_IThumbnailProvider = {0xE357FCCD, 0xA995, 0x4576, {0xB0, 0x1F, 0x23, 0x46, 0x30, 0x15, 0x4E, 0x96}};
}

// As the shell's helper: IUnknown is answered with the first entry, so every interface
// of an object reports the same identity.
HRESULT STDMETHODCALLTYPE QISearch(void* that, LPCQITAB pqit, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    for (LPCQITAB e = pqit; e->piid; ++e) {
        if (IsEqualIID(riid, *e->piid)) {
            auto* unk = reinterpret_cast<IUnknown*>(static_cast<BYTE*>(that) + e->dwOffset);
            unk->AddRef();
            *ppv = unk;
            return S_OK;
        }
    }
    if (IsEqualIID(riid, IID_IUnknown) && pqit->piid) {
        auto* unk = reinterpret_cast<IUnknown*>(static_cast<BYTE*>(that) + pqit->dwOffset);
        unk->AddRef();
        *ppv = unk;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    constexpr int kChars = 39;
    if (!lpsz || cchMax < kChars) return 0;
    static const char hex[] = "0123456789ABCDEF";
    BYTE bytes[16];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(rguid.Data1 >> (24 - 8 * i));
    bytes[4] = static_cast<BYTE>(rguid.Data2 >> 8);
    bytes[5] = static_cast<BYTE>(rguid.Data2);
    bytes[6] = static_cast<BYTE>(rguid.Data3 >> 8);
    bytes[7] = static_cast<BYTE>(rguid.Data3);
    for (int i = 0; i < 8; ++i) bytes[8 + i] = rguid.Data4[i];
    OLECHAR* out = lpsz;
    *out++ = u'{';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) *out++ = u'-';
        *out++ = static_cast<OLECHAR>(hex[bytes[i] >> 4]);
        *out++ = static_cast<OLECHAR>(hex[bytes[i] & 15]);
    }
    *out++ = u'}';
    *out = 0;
    return kChars;
}
