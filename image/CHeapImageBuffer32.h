// Pixel storage in one block of image memory, with room for a single pixel inline so a
// 1 x 1 image needs no allocation.
#pragma once

#include "image/CImageBuffer32.h"

namespace tarn {

class CHeapImageBuffer32 final : public CImageBuffer32 {
public:
    CHeapImageBuffer32() { data = &inlinePixel; }
    ~CHeapImageBuffer32() override { FreeStorage(); }
    CHeapImageBuffer32(const CHeapImageBuffer32&) = delete;
    CHeapImageBuffer32& operator=(const CHeapImageBuffer32&) = delete;

    void FreeStorage() override;
    bool Resize(int32_t w, int32_t h) override;
    uint32_t* PixelAt(int32_t x, int32_t y, int) override;
    uint32_t* PixelAt(int32_t x, int32_t y) override;
    bool IsContiguous() const override { return true; }
    uint32_t* Data() override { return data; }
    const uint32_t* Data() const override { return data; }
    void Lock() override {}
    void Unlock() override {}

private:
    uint32_t inlinePixel = 0;
};

}  // namespace tarn
