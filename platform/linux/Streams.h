// The shell's stream factories: an in-memory stream and a file-backed one.
#pragma once

#include "Com.h"

// Copies cb bytes; returns a stream with reference count 1, or null.
IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit);

#define FILE_ATTRIBUTE_NORMAL 0x00000080u
// Opens (or, with STGM_CREATE, creates) a file as a stream. Paths are UTF-16.
HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD dwAttributes, BOOL fCreate,
                               IStream* pstmTemplate, IStream** ppstm);
