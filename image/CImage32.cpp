#include "image/CImage32.h"

#include <algorithm>

#include "image/CHeapImageBuffer32.h"

namespace tarn {

CImage32::CImage32() {
    InitializeCriticalSectionAndSpinCount(&pixelLock, 1024);
    buffer = new CHeapImageBuffer32();
    // A fresh image is 1 x 1; the buffer keeps that pixel inline.
    buffer->Resize(1, 1);
    SetGeometry(1, 1, 4.0);
    RefreshPixels();
}

CImage32::~CImage32() {
    delete buffer;
    DeleteCriticalSection(&pixelLock);
}

void CImage32::RefreshPixels() {
    if (buffer->IsContiguous()) pixels = buffer->Data();
}

bool CImage32::Resize(int32_t w, int32_t h) {
    if (w == width && h == height) return true;
    w = std::max(w, 1);
    h = std::max(h, 1);
    if (!buffer->Resize(w, h)) {
        SetGeometry(1, 1, 4.0);
        RefreshPixels();
        return false;
    }
    SetGeometry(w, h, 4.0);
    RefreshPixels();
    return true;
}

void CImage32::Fill(uint32_t value) {
    if (pixels) {
        std::fill_n(pixels, static_cast<size_t>(width) * static_cast<size_t>(height), value);
        return;
    }
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) SetPixel(x, y, value);
}

}  // namespace tarn
