// Device-independent bitmaps as GDI hands them out: CreateDIBSection over memory this layer
// owns, GetObject to read a bitmap's description back, DeleteObject to free it.
#pragma once

#include "Types.h"

#define BI_RGB 0u
#define DIB_RGB_COLORS 0u
#define OBJ_BITMAP 7

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

static_assert(sizeof(BITMAPFILEHEADER) == 14 && sizeof(BITMAPINFOHEADER) == 40);

// Only 32-bit BI_RGB sections are made; the bits are zeroed, rows DWORD-aligned.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset);
BOOL DeleteObject(HGDIOBJ ho);
// With a DIBSECTION-sized buffer fills the whole DIBSECTION, with a BITMAP-sized one the BITMAP.
int GetObjectW(HANDLE h, int c, LPVOID pv);
#define GetObject GetObjectW

namespace platform::gdi {

enum class DibFailure {
    None,
    NoHandle,  // the call returns null, as when memory is exhausted
    NoBits,    // the call returns a handle but leaves the bits pointer null
};
// Makes the next CreateDIBSection calls fail in the given way (`count` of them).
void InjectDibFailure(DibFailure failure, int count = 1);
// Bitmaps created and not yet deleted.
size_t LiveBitmapCount();
// Deletes a bitmap that another copy of this layer made: a loaded shared object links its own,
// whose DeleteObject a host program cannot reach (Windows has one GDI per process). The other
// copy's record of it goes when that object is unloaded.
BOOL DeleteBitmapOfOtherCopy(HBITMAP bitmap);

}  // namespace platform::gdi
