// Geometry shared by every image kind.
#pragma once

#include <cstdint>

namespace tarn {

class CImageBase {
public:
    virtual ~CImageBase() = default;
    virtual bool IsReady() const = 0;

    int32_t Width() const { return width; }
    int32_t Height() const { return height; }
    int32_t Stride() const { return stride; }
    bool PowerOfTwo() const { return powerOfTwo; }

protected:
    void SetGeometry(int32_t w, int32_t h, double bytesPerPixel);

    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    bool powerOfTwo = false;
};

}  // namespace tarn
