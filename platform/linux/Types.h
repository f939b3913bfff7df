// Win32 scalar types, result codes and GUIDs with their Windows sizes (LLP64).
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using HRESULT = std::int32_t;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using HANDLE = void*;
using HMODULE = struct HINSTANCE__*;
using HINSTANCE = HMODULE;
using HWND = struct HWND__*;
using HBITMAP = struct HBITMAP__*;
using HGDIOBJ = void*;
using HDC = struct HDC__*;
using FARPROC = void (*)();

// Windows' WCHAR is a 16-bit UTF-16 unit; wchar_t is 32-bit here, so char16_t stands in.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// UTF-16 string literal.
#define WSTR(s) u##s

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define IFACEMETHODIMP STDMETHODIMP
#define IFACEMETHODIMP_(type) STDMETHODIMP_(type)

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Result codes, with the values Windows defines.
constexpr HRESULT MakeHr(std::uint32_t v) { return static_cast<HRESULT>(v); }
#define S_OK MakeHr(0)
#define S_FALSE MakeHr(1)
#define E_NOTIMPL MakeHr(0x80004001)
#define E_NOINTERFACE MakeHr(0x80004002)
#define E_POINTER MakeHr(0x80004003)
#define E_ABORT MakeHr(0x80004004)
#define E_FAIL MakeHr(0x80004005)
#define E_UNEXPECTED MakeHr(0x8000FFFF)
#define E_ACCESSDENIED MakeHr(0x80070005)
#define E_HANDLE MakeHr(0x80070006)
#define E_OUTOFMEMORY MakeHr(0x8007000E)
#define E_INVALIDARG MakeHr(0x80070057)
#define CLASS_E_NOAGGREGATION MakeHr(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE MakeHr(0x80040111)
#define STG_E_INVALIDFUNCTION MakeHr(0x80030001)
#define STG_E_FILENOTFOUND MakeHr(0x80030002)
#define STG_E_ACCESSDENIED MakeHr(0x80030005)
#define STG_E_INVALIDPOINTER MakeHr(0x80030009)
#define STG_E_READFAULT MakeHr(0x8003001E)
#define STG_E_INVALIDPARAMETER MakeHr(0x80030057)

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Win32 error codes used by the system.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_ALREADY_INITIALIZED 1247L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_INVALID_ADDRESS 487L

inline HRESULT HRESULT_FROM_WIN32(long c) {
    return c <= 0 ? static_cast<HRESULT>(c) : static_cast<HRESULT>((static_cast<std::uint32_t>(c) & 0xFFFFu) | 0x80070000u);
}

DWORD GetLastError();
void SetLastError(DWORD error);

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
