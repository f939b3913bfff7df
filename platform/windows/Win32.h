// Real Windows SDK headers (mingw-w64 or MSVC).
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000005
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
// The portable layer brings the fixed-width integer types along; so does this one.
#include <cstddef>
#include <cstdint>

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <propsys.h>
#include <thumbcache.h>

// UTF-16 string literal: wchar_t is 16-bit on Windows.
#define WSTR(s) L##s

// The shell's table-driven QueryInterface, reached by ordinal at run time (QISearch.cpp):
// the name QISearch must never become an import.
HRESULT STDMETHODCALLTYPE ThumbQISearch(void* that, LPCQITAB pqit, REFIID riid, void** ppv);
#define QISearch ThumbQISearch

// Called by the DLL's entry point once its static initialisation has run: hands back what the
// compiler runtime's thread layer kept for the loading thread (platform/windows/runtime/).
void ThreadRuntimeAttached();
