// The shell's table-driven QueryInterface is SHLWAPI's export 219. Some SHLWAPI builds export
// it by ordinal only, and an import by name would keep the whole DLL from loading there, so
// it is looked up by ordinal at run time.
#include "platform/Platform.h"

namespace {

using QISearchFunction = HRESULT(STDAPICALLTYPE*)(void* that, LPCQITAB pqit, REFIID riid, void** ppv);
constexpr WORD kQISearchOrdinal = 219;

QISearchFunction LookUpQISearch() {
    // The reference is kept for the life of the process: the pointer is cached.
    HMODULE shlwapi = LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!shlwapi) return nullptr;
    FARPROC proc = GetProcAddress(shlwapi, MAKEINTRESOURCEA(kQISearchOrdinal));
    return reinterpret_cast<QISearchFunction>(reinterpret_cast<void*>(proc));
}

// The same rules, for a process in which SHLWAPI cannot be loaded: an object must still
// answer QueryInterface.
HRESULT SearchTable(void* that, LPCQITAB table, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    const bool wantsIdentity = IsEqualIID(riid, IID_IUnknown);
    for (LPCQITAB entry = table; entry && entry->piid; ++entry) {
        if (wantsIdentity || IsEqualIID(riid, *entry->piid)) {
            auto* unknown = reinterpret_cast<IUnknown*>(static_cast<BYTE*>(that) + entry->dwOffset);
            unknown->AddRef();
            *ppv = unknown;
            return S_OK;
        }
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ThumbQISearch(void* that, LPCQITAB pqit, REFIID riid, void** ppv) {
    static const QISearchFunction shellQISearch = LookUpQISearch();
    return shellQISearch ? shellQISearch(that, pqit, riid, ppv) : SearchTable(that, pqit, riid, ppv);
}
