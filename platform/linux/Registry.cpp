#include "Registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Key and value names compare case-insensitively for ASCII letters.
struct NameLess {
    static char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char16_t x, char16_t y) { return Fold(x) < Fold(y); });
    }
};

struct Key {
    std::map<std::u16string, std::shared_ptr<Key>, NameLess> subkeys;
    std::map<std::u16string, platform::registry::Value, NameLess> values;
    std::u16string path;  // full path below the root, for hooks and listings
    bool deleted = false;
};

struct Handle {
    std::shared_ptr<Key> key;
    REGSAM access;
};

// One lock over the whole tree and the handle table; registry calls are rare.
std::mutex treeLock;
std::shared_ptr<Key> root = [] {
    auto k = std::make_shared<Key>();
    return k;
}();
std::map<HKEY, Handle> handles;
ULONG_PTR nextHandle = 0x1000;
platform::registry::FailureHook failureHook;

std::u16string Text(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// Splits "a\b\c" into components; an empty component (leading, doubled or trailing
// backslash) is refused as Windows refuses it.
bool SplitPath(const std::u16string& path, std::vector<std::u16string>& parts) {
    parts.clear();
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        std::u16string part = path.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (part.empty() || part.size() > 255) return false;
        parts.push_back(std::move(part));
        if (end == std::u16string::npos) return true;
        start = end + 1;
    }
}

std::u16string Join(const std::u16string& base, const std::u16string& sub) {
    if (base.empty()) return sub;
    if (sub.empty()) return base;
    return base + u"\\" + sub;
}

// Resolves a handle to its key; null with the error code otherwise. Caller holds the lock.
std::shared_ptr<Key> Resolve(HKEY h, REGSAM* access, LSTATUS& error) {
    if (h == HKEY_CLASSES_ROOT) {
        if (access) *access = KEY_ALL_ACCESS;
        return root;
    }
    auto it = handles.find(h);
    if (it == handles.end()) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (it->second.key->deleted) {
        error = ERROR_KEY_DELETED;
        return nullptr;
    }
    if (access) *access = it->second.access;
    return it->second.key;
}

std::shared_ptr<Key> Find(std::shared_ptr<Key> from, const std::vector<std::u16string>& parts) {
    for (const auto& p : parts) {
        auto it = from->subkeys.find(p);
        if (it == from->subkeys.end()) return nullptr;
        from = it->second;
    }
    return from;
}

LSTATUS Hook(const char* call, const std::u16string& path) { return failureHook ? failureHook(call, path) : 0; }

HKEY NewHandle(std::shared_ptr<Key> key, REGSAM access) {
    HKEY h = reinterpret_cast<HKEY>(nextHandle);
    nextHandle += 4;
    handles[h] = Handle{std::move(key), access};
    return h;
}

void MarkDeleted(Key& k) {
    k.deleted = true;
    for (auto& [name, child] : k.subkeys) MarkDeleted(*child);
}

void Collect(const Key& k, std::vector<std::u16string>& out) {
    for (const auto& [name, child] : k.subkeys) {
        out.push_back(child->path);
        Collect(*child, out);
    }
}

// The key a handle names when the handle has the `needed` access; null with the error
// otherwise. Caller holds the lock.
std::shared_ptr<Key> Open(HKEY h, REGSAM needed, LSTATUS& error) {
    REGSAM access = 0;
    auto key = Resolve(h, &access, error);
    if (key && (access & needed) != needed) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return key;
}

// Removes the subkey `parts` (at least one) below `key`, refusing one that has subkeys of its
// own unless `tree`. Caller holds the lock.
LSTATUS Unlink(const std::shared_ptr<Key>& key, std::vector<std::u16string> parts, bool tree) {
    const std::u16string leaf = parts.back();
    parts.pop_back();
    auto parent = Find(key, parts);
    if (!parent) return ERROR_FILE_NOT_FOUND;
    auto it = parent->subkeys.find(leaf);
    if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    if (!tree && !it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
    MarkDeleted(*it->second);
    parent->subkeys.erase(it);
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, 0, error);
    if (!key) return error;
    std::vector<std::u16string> parts;
    if (!SplitPath(Text(lpSubKey), parts)) return ERROR_BAD_PATHNAME;
    if (LSTATUS e = Hook("RegCreateKeyExW", Join(key->path, Text(lpSubKey)))) return e;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    for (const auto& p : parts) {
        auto it = key->subkeys.find(p);
        if (it == key->subkeys.end()) {
            auto child = std::make_shared<Key>();
            child->path = Join(key->path, p);
            it = key->subkeys.emplace(p, child).first;
            disposition = REG_CREATED_NEW_KEY;
        }
        key = it->second;
    }
    *phkResult = NewHandle(key, samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, 0, error);
    if (!key) return error;
    std::vector<std::u16string> parts;
    if (!SplitPath(Text(lpSubKey), parts)) return ERROR_FILE_NOT_FOUND;
    if (LSTATUS e = Hook("RegOpenKeyExW", Join(key->path, Text(lpSubKey)))) return e;
    auto found = Find(key, parts);
    if (!found) return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(found, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, KEY_SET_VALUE, error);
    if (!key) return error;
    if (!lpData && cbData) return ERROR_NOACCESS;
    if (LSTATUS e = Hook("RegSetValueExW", key->path)) return e;
    platform::registry::Value v;
    v.type = dwType;
    if (cbData) v.data.assign(lpData, lpData + cbData);
    key->values[Text(lpValueName)] = std::move(v);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, KEY_QUERY_VALUE, error);
    if (!key) return error;
    if (LSTATUS e = Hook("RegQueryValueExW", key->path)) return e;
    auto it = key->values.find(Text(lpValueName));
    if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
    const auto& v = it->second;
    DWORD size = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    if (!lpcbData) return ERROR_SUCCESS;
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, v.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, 0, error);
    if (!key) return error;
    std::vector<std::u16string> parts;
    if (!SplitPath(Text(lpSubKey), parts)) return ERROR_FILE_NOT_FOUND;
    if (LSTATUS e = Hook("RegDeleteTreeW", Join(key->path, Text(lpSubKey)))) return e;
    if (parts.empty()) {
        // Without a subkey the key itself stays; its values and subkeys go.
        for (auto& [name, child] : key->subkeys) MarkDeleted(*child);
        key->subkeys.clear();
        key->values.clear();
        return ERROR_SUCCESS;
    }
    return Unlink(key, std::move(parts), true);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, 0, error);
    if (!key) return error;
    std::vector<std::u16string> parts;
    if (!SplitPath(Text(lpSubKey), parts) || parts.empty()) return ERROR_FILE_NOT_FOUND;
    if (LSTATUS e = Hook("RegDeleteKeyW", Join(key->path, Text(lpSubKey)))) return e;
    return Unlink(key, std::move(parts), false);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(treeLock);
    LSTATUS error = ERROR_SUCCESS;
    auto key = Open(hKey, KEY_QUERY_VALUE, error);
    if (!key) return error;
    if (LSTATUS e = Hook("RegQueryInfoKeyW", key->path)) return e;
    for (LPDWORD unused : {lpcchClass, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcbMaxValueNameLen, lpcbMaxValueLen,
                           lpcbSecurityDescriptor})
        if (unused) *unused = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key->subkeys.size());
    if (lpcValues) *lpcValues = static_cast<DWORD>(key->values.size());
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    std::lock_guard lock(treeLock);
    return handles.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace platform::registry {

void Clear() {
    std::lock_guard lock(treeLock);
    MarkDeleted(*root);
    root = std::make_shared<Key>();
}

bool KeyExists(const std::u16string& path) {
    std::lock_guard lock(treeLock);
    std::vector<std::u16string> parts;
    return SplitPath(path, parts) && Find(root, parts) != nullptr;
}

bool GetValue(const std::u16string& path, const std::u16string& name, Value& out) {
    std::lock_guard lock(treeLock);
    std::vector<std::u16string> parts;
    if (!SplitPath(path, parts)) return false;
    auto key = Find(root, parts);
    if (!key) return false;
    auto it = key->values.find(name);
    if (it == key->values.end()) return false;
    out = it->second;
    return true;
}

void PutValue(const std::u16string& path, const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) != 0) return;
    RegSetValueExW(h, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(h);
}

std::vector<std::u16string> ListKeys() {
    std::lock_guard lock(treeLock);
    std::vector<std::u16string> out;
    Collect(*root, out);
    return out;
}

size_t OpenHandleCount() {
    std::lock_guard lock(treeLock);
    return handles.size();
}

void SetFailureHook(FailureHook hook) {
    std::lock_guard lock(treeLock);
    failureHook = std::move(hook);
}

}  // namespace platform::registry
