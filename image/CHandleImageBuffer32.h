// Pixel storage behind a memory handle, used when the paged-memory switch is on. The pixels
// have an address only while the buffer is locked: unlocked, `data` is null and the memory may
// be paged out. A 1 x 1 buffer keeps its pixel inline and needs no handle.
#pragma once

#include <cstddef>

#include "image/CImageBuffer32.h"

namespace tarn {

class NMemHandle;

class CHandleImageBuffer32 final : public CImageBuffer32 {
public:
    CHandleImageBuffer32() { data = &inlinePixel; }
    ~CHandleImageBuffer32() override { FreeStorage(); }
    CHandleImageBuffer32(const CHandleImageBuffer32&) = delete;
    CHandleImageBuffer32& operator=(const CHandleImageBuffer32&) = delete;

    void FreeStorage() override;
    // Contents are not kept. A failed allocation (pager errors included) leaves the buffer
    // 1 x 1 on its inline pixel and returns false.
    bool Resize(int32_t w, int32_t h) override;
    uint32_t* PixelAt(int32_t x, int32_t y, int) override;
    uint32_t* PixelAt(int32_t x, int32_t y) override;
    bool IsContiguous() const override { return true; }
    uint32_t* Data() override { return data; }
    const uint32_t* Data() const override { return data; }
    // Nested: the handle is locked once, on the first Lock, and unlocked on the last Unlock.
    void Lock() override;
    void Unlock() override;

    const NMemHandle* Handle() const { return handle; }

private:
    size_t Bytes() const { return ImageStorageBytes(width, height); }

    uint32_t inlinePixel = 0;
    NMemHandle* handle = nullptr;
    int32_t lockCount = 0;
};

}  // namespace tarn
