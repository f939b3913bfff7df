// The scalar row functions of the modes that need no blend kernel (BlendRows.cpp).
#pragma once

#include <cstdint>

#include "image/BlendParams.h"

namespace tarn {

void CopyRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count);
void AndRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count);
void OrRow(const BlendParams&, uint32_t* dst, const uint32_t* src, int32_t count);
template <bool Linear>
void NormalKeepAlphaRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
template <bool Linear>
void NormalRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
void SubtractiveEraseRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
void ClipToSourceRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
void MultiplicativeEraseRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
void KeyColourSkipRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);
void PaintColourRow(const BlendParams& params, uint32_t* dst, const uint32_t* src, int32_t count);

}  // namespace tarn
