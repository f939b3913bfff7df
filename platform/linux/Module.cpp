#include "Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <strings.h>
#include <string>

#include "Sync.h"
#include "Utf16.h"
#include "VirtualMemory.h"

namespace {

// The one system module this layer stands in for, with the exports looked up at run time.
struct Export {
    const char* name;
    FARPROC address;
};
const Export kKernelBaseExports[] = {
    {"VirtualAlloc2", reinterpret_cast<FARPROC>(&VirtualAlloc2)},
    {"VirtualFree", reinterpret_cast<FARPROC>(&VirtualFree)},
};
HMODULE const kKernelBase = reinterpret_cast<HMODULE>(const_cast<Export*>(kKernelBaseExports));

HMODULE FindModule(LPCWSTR name) {
    if (!name) return nullptr;
    std::string n = platform::ToUtf8(name);
    if (strcasecmp(n.c_str(), "kernelbase.dll") == 0 || strcasecmp(n.c_str(), "kernelbase") == 0) return kKernelBase;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) { return FindModule(name); }
HMODULE GetModuleHandleW(LPCWSTR name) { return FindModule(name); }
BOOL FreeLibrary(HMODULE) { return TRUE; }

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == kKernelBase && name) {
        for (const auto& e : kKernelBaseExports)
            if (std::strcmp(e.name, name) == 0) return e.address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// Any address inside a loaded object identifies that object as its module handle.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::string path;
    if (!module) {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path.assign(buf, static_cast<size_t>(n));
    } else {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(module), &info) || !info.dli_fname) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        char resolved[4096];
        path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    }
    std::u16string wide = platform::ToUtf16(path);
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like Windows: a path that does not fit is cut, terminated, and the full size returned.
    if (wide.size() >= size) {
        std::memcpy(buffer, wide.data(), (size - 1) * sizeof(WCHAR));
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, wide.data(), wide.size() * sizeof(WCHAR));
    buffer[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
