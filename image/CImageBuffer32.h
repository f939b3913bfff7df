// Abstract pixel storage of a CImage32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tarn {

// Bytes of a w x h image (both at least 1), or 0 when it cannot have storage: its pixel count
// must fit a signed 32-bit value, and its bytes a Size (4 bytes a pixel wrap a 32-bit size_t
// from 2^30 pixels on, e.g. a 32768 x 32768 canvas).
template <class Size = size_t>
constexpr Size ImageStorageBytes(int32_t w, int32_t h) {
    const int64_t count = int64_t{w} * h;
    if (w < 1 || h < 1 || count > INT32_MAX || static_cast<uint64_t>(count) > std::numeric_limits<Size>::max() / 4) return 0;
    return static_cast<Size>(count) * 4;
}

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
