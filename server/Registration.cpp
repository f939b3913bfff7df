#include "server/Registration.h"

#include <cstring>

#include "server/Module.h"

namespace {

const WCHAR kExtension[] = WSTR(".kwb");
const WCHAR kClassName[] = WSTR("KwbThumbDll.KwbThumbnailProvider Class");
const WCHAR kThreadingModel[] = WSTR("Apartment");
// The shell looks the handler up under the IThumbnailProvider IID, written in lower case.
const WCHAR kHandlerKeyFormat[] = WSTR("%s\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}");

size_t Length(const WCHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// Creates the key, writes one REG_SZ value (length without the terminating null) and
// closes the key whether or not the write worked.
HRESULT WriteValue(const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* text) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const DWORD bytes = static_cast<DWORD>(Length(text) * sizeof(WCHAR));
    status = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

bool EqualIgnoringAsciiCase(const WCHAR* a, const WCHAR* b) {
    auto fold = [](WCHAR c) { return static_cast<WCHAR>(c >= u'a' && c <= u'z' ? c - 32 : c); };
    for (; *a && fold(*a) == fold(*b); ++a, ++b) {
    }
    return fold(*a) == fold(*b);
}

// Whether the default value of the open key is a string naming `clsid` (in any letter case,
// as the shell reads it). ERROR_SUCCESS with `ours` set, or the failure of the read; a
// missing or longer value is not ours.
LSTATUS HoldsClsid(HKEY key, const WCHAR* clsid, bool& ours) {
    ours = false;
    WCHAR text[40] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof text - sizeof(WCHAR);
    LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    text[bytes / sizeof(WCHAR)] = 0;
    ours = (type == REG_SZ || type == REG_EXPAND_SZ) && EqualIgnoringAsciiCase(text, clsid);
    return ERROR_SUCCESS;
}

// Deletes `parent` when it holds neither values nor subkeys.
LSTATUS DeleteIfEmpty(const WCHAR* parent) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, parent, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    DWORD subkeys = 0;
    DWORD values = 0;
    status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    if (subkeys || values) return ERROR_SUCCESS;
    status = RegDeleteKeyW(HKEY_CLASSES_ROOT, parent);
    // Someone wrote into it meanwhile, or removed it: either way it is not ours to delete.
    return status == ERROR_ACCESS_DENIED || status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// Removes `<target>\shellex\{handler}` if its default value is our CLSID, and then the
// `shellex` key if that left it empty. A handler key that is missing (the other
// architecture's removal got there first: both views share it) or names another class is
// left as it is and is no failure.
HRESULT RemoveOurHandler(const WCHAR* target, const WCHAR* clsid) {
    WCHAR path[kKeyPathCapacity];
    HRESULT hr = FormatKey(path, kKeyPathCapacity, kHandlerKeyFormat, target);
    if (FAILED(hr)) return hr;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    bool ours = false;
    status = HoldsClsid(key, clsid, ours);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (!ours) return S_OK;
    status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
    hr = FormatKey(path, kKeyPathCapacity, WSTR("%s\\shellex"), target);
    if (FAILED(hr)) return hr;
    return HRESULT_FROM_WIN32(DeleteIfEmpty(path));
}

HRESULT HandlerKeyPath(WCHAR (&path)[kKeyPathCapacity]) {
    WCHAR target[261];
    FindHandlerTarget(target);
    return FormatKey(path, kKeyPathCapacity, kHandlerKeyFormat, static_cast<const WCHAR*>(target));
}

}  // namespace

HRESULT FormatKeyList(WCHAR* dest, size_t capacity, const WCHAR* format, const WCHAR* const* args, size_t argCount) {
    if (capacity == 0) return E_INVALIDARG;
    if (capacity > 0x7FFFFFFF) {
        dest[0] = 0;
        return E_INVALIDARG;
    }
    size_t used = 0;
    size_t nextArg = 0;
    auto put = [&](WCHAR c) {
        if (used + 1 >= capacity) return false;
        dest[used++] = c;
        return true;
    };
    for (const WCHAR* f = format; *f; ++f) {
        if (f[0] == u'%' && f[1] == u's') {
            ++f;
            const WCHAR* arg = nextArg < argCount && args[nextArg] ? args[nextArg] : WSTR("");
            ++nextArg;
            for (; *arg; ++arg)
                if (!put(*arg)) {
                    dest[used] = 0;
                    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
                }
            continue;
        }
        if (f[0] == u'%' && f[1] == u'%') ++f;
        if (!put(*f)) {
            dest[used] = 0;
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    dest[used] = 0;
    return S_OK;
}

void FindHandlerTarget(WCHAR (&target)[261]) {
    std::memcpy(target, kExtension, sizeof kExtension);
    // A configured name without the leading dot would itself be the target; ".kwb" has one,
    // so its ProgID is looked up.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kExtension, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    WCHAR progId[261] = {};
    DWORD bytes = 520;
    LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(progId), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return;
    // Up to the first null or the stored length, whichever comes first.
    size_t units = bytes / sizeof(WCHAR);
    if (units > 260) units = 260;
    progId[units] = 0;
    if (progId[0] == 0) return;
    std::memcpy(target, progId, sizeof progId);
}

HRESULT RegisterServer(HMODULE module) {
    WCHAR modulePath[MAX_PATH];
    if (GetModuleFileNameW(module, modulePath, MAX_PATH) == 0) return HRESULT_FROM_WIN32(GetLastError());

    WCHAR clsid[260];
    StringFromGUID2(CLSID_KwbThumbnailProvider, clsid, 260);

    WCHAR path[kKeyPathCapacity];
    HRESULT hr = FormatKey(path, kKeyPathCapacity, WSTR("CLSID\\%s"), static_cast<const WCHAR*>(clsid));
    if (SUCCEEDED(hr)) hr = WriteValue(path, nullptr, kClassName);
    if (SUCCEEDED(hr))
        hr = FormatKey(path, kKeyPathCapacity, WSTR("CLSID\\%s\\InprocServer32"), static_cast<const WCHAR*>(clsid));
    if (SUCCEEDED(hr)) hr = WriteValue(path, nullptr, modulePath);
    if (SUCCEEDED(hr)) hr = WriteValue(path, WSTR("ThreadingModel"), kThreadingModel);
    if (SUCCEEDED(hr)) hr = HandlerKeyPath(path);
    if (SUCCEEDED(hr)) hr = WriteValue(path, nullptr, clsid);
    if (SUCCEEDED(hr)) SHChangeNotify(SHCNE_ASSOCCHANGED, 0, nullptr, nullptr);
    return hr;
}

HRESULT UnregisterServer() {
    WCHAR clsid[260];
    StringFromGUID2(CLSID_KwbThumbnailProvider, clsid, 260);

    WCHAR path[kKeyPathCapacity];
    HRESULT hr = FormatKey(path, kKeyPathCapacity, WSTR("CLSID\\%s"), static_cast<const WCHAR*>(clsid));
    if (FAILED(hr)) return hr;
    hr = HRESULT_FROM_WIN32(RegDeleteTreeW(HKEY_CLASSES_ROOT, path));
    if (FAILED(hr)) return hr;
    // The handler may sit under the ProgID that .kwb names now or, when that ProgID came
    // after us, still under .kwb itself: both are looked at, and each is removed only if it
    // names our class.
    WCHAR target[261];
    FindHandlerTarget(target);
    hr = RemoveOurHandler(target, clsid);
    if (FAILED(hr) || EqualIgnoringAsciiCase(target, kExtension)) return hr;
    return RemoveOurHandler(kExtension, clsid);
}
