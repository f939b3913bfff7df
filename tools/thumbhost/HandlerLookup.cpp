#include "tools/thumbhost/HandlerLookup.h"

#include <vector>

namespace thumbhost {

namespace {

// The shell looks a thumbnail handler up under the document type's extension or ProgID.
constexpr const wchar_t* kExtension = L".kwb";
constexpr const wchar_t* kHandlerKey = L"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";

// The default value of HKCR\<key> as text; false when the key or a string value is missing.
bool ReadDefaultValue(const std::wstring& key, std::wstring& text) {
    HKEY hkey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return false;
    wchar_t buffer[MAX_PATH] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);  // room for a terminator the data may lack
    LSTATUS status = RegQueryValueExW(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(hkey);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    text = buffer;
    return true;
}

}  // namespace

bool FindThumbnailHandler(CLSID& clsid, std::wstring& keyFound) {
    std::vector<std::wstring> owners;
    std::wstring progId;
    if (ReadDefaultValue(kExtension, progId) && !progId.empty()) owners.push_back(progId);
    owners.push_back(kExtension);
    for (const std::wstring& owner : owners) {
        std::wstring text;
        if (ReadDefaultValue(owner + kHandlerKey, text) && SUCCEEDED(CLSIDFromString(text.c_str(), &clsid))) {
            keyFound = owner + kHandlerKey;
            return true;
        }
    }
    return false;
}

}  // namespace thumbhost
