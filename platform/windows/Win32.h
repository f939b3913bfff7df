// Real Windows SDK headers (mingw-w64 or MSVC).
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <thumbcache.h>

// UTF-16 string literal: wchar_t is 16-bit on Windows.
#define WSTR(s) L##s
