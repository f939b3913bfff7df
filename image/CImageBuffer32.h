// Abstract pixel storage of a CImage32.
#pragma once

#include <cstdint>

namespace tarn {

class CImageBuffer32 {
public:
    virtual ~CImageBuffer32() = default;
    // Gives the pixel block back; afterwards data is null unless it pointed at inline storage.
    virtual void FreeStorage() = 0;
    // Replaces the storage by one of the given size; contents are not kept.
    virtual bool Resize(int32_t w, int32_t h) = 0;
    // Single-pixel access for storage that is not contiguous.
    virtual uint32_t* PixelAt(int32_t x, int32_t y, int) = 0;
    virtual uint32_t* PixelAt(int32_t x, int32_t y) = 0;
    virtual bool IsContiguous() const = 0;
    virtual uint32_t* Data() = 0;
    virtual const uint32_t* Data() const = 0;
    // Pins the storage before access (handle-backed buffers only).
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

    int32_t Width() const { return width; }
    int32_t Height() const { return height; }

protected:
    int32_t width = 0;
    int32_t height = 0;
    uint32_t* data = nullptr;
};

}  // namespace tarn
