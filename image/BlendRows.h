// Row functions of the blend modes and their resolution from a mode number.
#pragma once

#include <cstdint>

#include "image/BlendParams.h"

namespace tarn {

// Instruction sets the row functions may be compiled for.
enum class PixelIsa { Scalar, Avx2 };

// The best instruction set of this processor, detected once.
PixelIsa BestPixelIsa();

// The row function of a mode for a given instruction set. Every instruction set gives
// bit-identical results; modes without a vector row use the scalar one.
BlendRowFunction ResolveRowFunction(int32_t mode, bool linearLight, PixelIsa isa);

// The scalar kernel-family rows, by kernel index 0..22.
BlendRowFunction KernelRowFunction(int index, bool keepAlpha, bool linearLight);

// Vector rows for the modes that have them (null otherwise); defined in BlendRowsAvx2.cpp.
BlendRowFunction Avx2RowFunction(int32_t mode, bool linearLight);

// True when the two pixel runs share any byte: vector rows then defer to the scalar ones so
// that an image blitted onto itself gives the same result.
inline bool RowsOverlap(const uint32_t* a, const uint32_t* b, int32_t count) {
    return a < b + count && b < a + count;
}

}  // namespace tarn
