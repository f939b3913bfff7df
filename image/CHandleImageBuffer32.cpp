#include "image/CHandleImageBuffer32.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "memory/PagedMemory.h"

namespace tarn {

void CHandleImageBuffer32::FreeStorage() {
    if (!handle) return;
    // A freed handle still counted as locked could never be paged out again once reused.
    if (lockCount > 0) handle->Unlock();
    FreeImageHandle(handle, Bytes());
    handle = nullptr;
    data = nullptr;
}

bool CHandleImageBuffer32::Resize(int32_t w, int32_t h) {
    if (w == width && h == height) return true;
    FreeStorage();
    w = std::max(w, 1);
    h = std::max(h, 1);
    const int64_t count = int64_t{w} * h;
    if (count == 1 && data == &inlinePixel) {
        width = w;
        height = h;
        return true;
    }
    NMemHandle* fresh = nullptr;
    // A size without storage, or a memory layer that fails (heap exhausted, pager file not
    // growable or mappable): the image gets no storage, as for exhausted memory.
    const size_t bytes = ImageStorageBytes(w, h);
    if (bytes) {
        try {
            fresh = AllocateImageHandle(bytes);
            if (fresh && lockCount > 0) data = static_cast<uint32_t*>(fresh->Lock());
        } catch (const std::exception&) {
            if (fresh) FreeImageHandle(fresh, bytes);
            fresh = nullptr;
        }
    }
    if (!fresh) {
        data = &inlinePixel;
        width = height = 1;
        return false;
    }
    handle = fresh;
    if (lockCount == 0) data = nullptr;
    width = w;
    height = h;
    return true;
}

void CHandleImageBuffer32::Lock() {
    // The handle is locked first: if it throws, nothing has changed.
    if (lockCount == 0 && handle) data = static_cast<uint32_t*>(handle->Lock());
    ++lockCount;
}

void CHandleImageBuffer32::Unlock() {
    if (lockCount <= 0) return;
    if (--lockCount == 0 && handle) {
        handle->Unlock();
        data = nullptr;
    }
}

uint32_t* CHandleImageBuffer32::PixelAt(int32_t, int32_t, int) { throw std::runtime_error("Shuold never called"); }
uint32_t* CHandleImageBuffer32::PixelAt(int32_t, int32_t) { throw std::runtime_error("Shuold never called"); }

}  // namespace tarn
