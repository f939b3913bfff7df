// Registry entries that make the provider the ".kwb" thumbnail handler.
#pragma once

#include <cstddef>

#include "platform/Platform.h"

// Every key path buffer holds this many UTF-16 units, the terminating null included.
constexpr size_t kKeyPathCapacity = 260;

// Bounded formatting of a key path: `format` may hold %s (the next argument) and %%.
// Capacity 0 or above 0x7FFFFFFF: E_INVALIDARG (dest[0] = 0 when capacity is not 0). A result
// that does not fit is cut to capacity - 1 units and gives 0x8007007A; exactly capacity - 1
// units fit.
HRESULT FormatKeyList(WCHAR* dest, size_t capacity, const WCHAR* format, const WCHAR* const* args, size_t argCount);

template <typename... Args>
HRESULT FormatKey(WCHAR* dest, size_t capacity, const WCHAR* format, Args... args) {
    const WCHAR* list[] = {args..., nullptr};
    return FormatKeyList(dest, capacity, format, list, sizeof...(args));
}

// The key under HKEY_CLASSES_ROOT that holds the handler: the ProgID named by the default
// value of HKCR\.kwb, or ".kwb" itself when there is none. `target` holds 261 units.
void FindHandlerTarget(WCHAR (&target)[261]);

HRESULT RegisterServer(HMODULE module);
HRESULT UnregisterServer();
