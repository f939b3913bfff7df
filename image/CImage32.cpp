#include "image/CImage32.h"

#include <algorithm>
#include <utility>

#include "image/CHandleImageBuffer32.h"
#include "image/CHeapImageBuffer32.h"
#include "memory/ImageMemory.h"

namespace tarn {

CImage32::CImage32() {
    InitializeCriticalSectionAndSpinCount(&pixelLock, 1024);
    handleBacked = PagedMemoryEnabled.load(std::memory_order_relaxed);
    buffer = handleBacked ? static_cast<CImageBuffer32*>(new CHandleImageBuffer32()) : new CHeapImageBuffer32();
    // A fresh image is 1 x 1; the buffer keeps that pixel inline.
    buffer->Resize(1, 1);
    SetGeometry(1, 1, 4.0);
    RefreshPixels();
}

CImage32::~CImage32() {
    delete buffer;
    DeleteCriticalSection(&pixelLock);
}

void CImage32::RefreshPixels() const {
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
    ScopedPixelLock lock(*this);
    if (pixels) {
        std::fill_n(pixels, static_cast<size_t>(width) * static_cast<size_t>(height), value);
        return;
    }
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) SetPixel(x, y, value);
}

void CImage32::Swap(CImage32& other) {
    // The buffer's kind travels with it: the paged-memory switch may have changed in between.
    std::swap(buffer, other.buffer);
    std::swap(pixels, other.pixels);
    std::swap(handleBacked, other.handleBacked);
    std::swap(width, other.width);
    std::swap(height, other.height);
    std::swap(stride, other.stride);
    std::swap(powerOfTwo, other.powerOfTwo);
}

void CImage32::LockPixelsSlow() const {
    EnterCriticalSection(&pixelLock);
    try {
        if (lockCount == 0) {
            buffer->Lock();
            RefreshPixels();
        }
    } catch (...) {
        LeaveCriticalSection(&pixelLock);
        throw;
    }
    InterlockedIncrement(&lockCount);
    LeaveCriticalSection(&pixelLock);
}

void CImage32::UnlockPixelsSlow() const {
    EnterCriticalSection(&pixelLock);
    // An unlock without a lock is ignored rather than driving the count negative.
    if (lockCount > 0 && InterlockedDecrement(&lockCount) == 0) {
        buffer->Unlock();
        RefreshPixels();
    }
    LeaveCriticalSection(&pixelLock);
}

}  // namespace tarn
