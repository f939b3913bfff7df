// The registry calls the server's registration uses, over an in-process tree. Only
// HKEY_CLASSES_ROOT exists; error codes are the ones Windows returns for the same calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Types.h"

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
struct SECURITY_ATTRIBUTES;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define READ_CONTROL 0x00020000u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define ERROR_BAD_PATHNAME 161L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NOACCESS 998L

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
// Deletes a key without subkeys (its values go with it); ERROR_ACCESS_DENIED when it has some.
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
// Counts only: the class, name lengths, security and time are not kept (0 when asked for).
LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         FILETIME* lpftLastWriteTime);
LSTATUS RegCloseKey(HKEY hKey);

// Inspection and fault injection for tests. Paths are relative to HKEY_CLASSES_ROOT and
// compared without regard to ASCII case, as key names are on Windows.
namespace platform::registry {

struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Removes every key and value (open handles then refer to deleted keys).
void Clear();
bool KeyExists(const std::u16string& path);
// False when the key or the value is missing. An empty name is the default value.
bool GetValue(const std::u16string& path, const std::u16string& name, Value& out);
// Creates the key (and its parents) if needed and stores the value.
void PutValue(const std::u16string& path, const std::u16string& name, DWORD type, const std::vector<BYTE>& data);
// Every key path below the root, parents before children, in name order.
std::vector<std::u16string> ListKeys();
size_t OpenHandleCount();

// Called before each Reg* call with the call's name ("RegCreateKeyExW", ...) and the full
// key path it addresses; a non-zero result makes the call fail with that code, unchanged.
using FailureHook = std::function<LSTATUS(const char* call, const std::u16string& path)>;
void SetFailureHook(FailureHook hook);

}  // namespace platform::registry
