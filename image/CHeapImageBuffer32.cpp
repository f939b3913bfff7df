#include "image/CHeapImageBuffer32.h"

#include <algorithm>
#include <stdexcept>

#include "memory/ImageMemory.h"

namespace tarn {

void CHeapImageBuffer32::FreeStorage() {
    if (data && data != &inlinePixel) {
        // Plain blocks whatever the paged-memory switch says now: this buffer never holds a handle.
        FreeBlock(data, ImageStorageBytes(width, height));
        data = nullptr;
    }
}

bool CHeapImageBuffer32::Resize(int32_t w, int32_t h) {
    if (w == width && h == height) return true;
    FreeStorage();
    w = std::max(w, 1);
    h = std::max(h, 1);
    if (int64_t{w} * h == 1 && data == &inlinePixel) {
        width = w;
        height = h;
        return true;
    }
    data = nullptr;
    // A size without storage fails like an exhausted heap, so no image ever owns a block smaller
    // than width x height x 4.
    if (const size_t bytes = ImageStorageBytes(w, h)) {
        // The memory layer throws when it cannot map a new pool region; to an image that is
        // exhausted memory like any other, and the buffer must not be left half changed.
        try {
            data = static_cast<uint32_t*>(AllocateBlock(bytes));
        } catch (const std::exception&) {
            data = nullptr;
        }
    }
    if (!data) {
        data = &inlinePixel;
        width = height = 1;
        return false;
    }
    width = w;
    height = h;
    return true;
}

uint32_t* CHeapImageBuffer32::PixelAt(int32_t, int32_t, int) { throw std::runtime_error("Shuold never called"); }
uint32_t* CHeapImageBuffer32::PixelAt(int32_t, int32_t) { throw std::runtime_error("Shuold never called"); }

}  // namespace tarn
