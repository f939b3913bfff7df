// A width x height image of 32-bit pixels 0xAARRGGBB (bytes B, G, R, A in memory), straight
// alpha, rows top to bottom without padding.
#pragma once

#include <cstdint>

#include "image/CImageBase.h"
#include "image/CImageBuffer32.h"
#include "platform/Platform.h"

namespace tarn {

struct BlendParams;

class CImage32 : public CImageBase {
public:
    CImage32();
    ~CImage32() override;
    CImage32(const CImage32&) = delete;
    CImage32& operator=(const CImage32&) = delete;

    bool IsReady() const override { return true; }
    // Clamps to at least 1 x 1; pixels are neither kept nor cleared. On failure the image is
    // left 1 x 1 and false is returned.
    virtual bool Resize(int32_t w, int32_t h);

    // Address of pixel (x, y), or null when it lies outside the image (negative coordinates
    // included). Out-of-range pixels read as 0 and are never written.
    uint32_t* PixelAddress(int32_t x, int32_t y) {
        if (width == 0 || static_cast<uint32_t>(x) >= static_cast<uint32_t>(width) ||
            static_cast<uint32_t>(y) >= static_cast<uint32_t>(height))
            return nullptr;
        return pixels ? pixels + (y * width + x) : buffer->PixelAt(x, y);
    }
    const uint32_t* PixelAddress(int32_t x, int32_t y) const { return const_cast<CImage32*>(this)->PixelAddress(x, y); }
    uint32_t* RowAddress(int32_t y) { return PixelAddress(0, y); }
    const uint32_t* RowAddress(int32_t y) const { return PixelAddress(0, y); }

    uint32_t GetPixel(int32_t x, int32_t y) const {
        const uint32_t* p = PixelAddress(x, y);
        return p ? *p : 0u;
    }
    void SetPixel(int32_t x, int32_t y, uint32_t value) {
        if (uint32_t* p = PixelAddress(x, y)) *p = value;
    }
    // The contiguous pixel array (width x height words), valid until the next resize.
    uint32_t* Pixels() { return pixels; }
    const uint32_t* Pixels() const { return pixels; }
    // Sets every pixel to `value` in one pass.
    void Fill(uint32_t value);
    // Exchanges size and pixels with `other`. Neither image may be pinned (LockPixels).
    void Swap(CImage32& other);

    // Pins the pixel storage: Pixels() and pixel addresses stay valid until the matching
    // UnlockPixels. Calls nest. Every pixel access of an image on handle-backed (pageable)
    // memory must sit between the two (ScopedPixelLock); for other images they do nothing.
    void LockPixels() const {
        if (handleBacked) LockPixelsSlow();
    }
    void UnlockPixels() const {
        if (handleBacked) UnlockPixelsSlow();
    }

    // One destination pixel of the area-average resample, computed from this (the source).
    void AreaSample(int32_t xStep, int32_t yStep, int32_t x, int32_t y, uint32_t* out) const;
    // 8 x 8 cells of two colours over the top-left width x height region; colourA at the corner.
    bool FillChecker(int32_t w, int32_t h, uint32_t colourA, uint32_t colourB);
    // Blends the source's top-left w x h block onto this image at (dstX, dstY).
    bool Blit(const BlendParams& params, int32_t dstX, int32_t dstY, const CImage32& source, int32_t w, int32_t h);

protected:
    void RefreshPixels() const;

    // Pinning changes where the pixels are, not what they are, so a const image can be pinned.
    mutable LONG lockCount = 0;
    mutable CRITICAL_SECTION pixelLock;
    CImageBuffer32* buffer = nullptr;
    mutable uint32_t* pixels = nullptr;
    // Chosen once at construction from the paged-memory switch, so one image never mixes modes.
    bool handleBacked = false;

private:
    void LockPixelsSlow() const;
    void UnlockPixelsSlow() const;
};

// Holds the pixel locks of one or two images for a scope, so that an exception leaving the
// scope unlocks them.
class ScopedPixelLock {
public:
    explicit ScopedPixelLock(const CImage32& image) : first(image) { first.LockPixels(); }
    ScopedPixelLock(const CImage32& a, const CImage32& b) : first(a) {
        first.LockPixels();
        try {
            b.LockPixels();
        } catch (...) {
            first.UnlockPixels();
            throw;
        }
        second = &b;
    }
    ~ScopedPixelLock() {
        if (second) second->UnlockPixels();
        first.UnlockPixels();
    }
    ScopedPixelLock(const ScopedPixelLock&) = delete;
    ScopedPixelLock& operator=(const ScopedPixelLock&) = delete;

private:
    const CImage32& first;
    const CImage32* second = nullptr;
};

}  // namespace tarn
