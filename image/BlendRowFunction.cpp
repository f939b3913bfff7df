// Which row function a blit runs: chosen from the mode number and the processor, once per blit.
#include "image/BlendParams.h"
#include "image/BlendRows.h"
#include "image/BlendRowsScalar.h"
#include "platform/Platform.h"

namespace tarn {

PixelIsa BestPixelIsa() {
    static const PixelIsa best =
        IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) ? PixelIsa::Avx2 : PixelIsa::Scalar;
    return best;
}

BlendRowFunction ResolveRowFunction(int32_t mode, bool linearLight, PixelIsa isa) {
    if (isa == PixelIsa::Avx2)
        if (BlendRowFunction fn = Avx2RowFunction(mode, linearLight)) return fn;

    if (mode >= kBlendKernelKeepAlphaFirst && mode <= kBlendKernelKeepAlphaLast)
        return KernelRowFunction(mode - kBlendKernelKeepAlphaFirst, true, linearLight);
    if (mode >= kBlendKernelCompositeFirst && mode <= kBlendKernelCompositeLast)
        return KernelRowFunction(mode - kBlendKernelCompositeFirst, false, linearLight);
    switch (mode) {
    case kBlendAnd: return AndRow;
    case kBlendOr: return OrRow;
    case kBlendNormalKeepAlpha: return linearLight ? NormalKeepAlphaRow<true> : NormalKeepAlphaRow<false>;
    case kBlendNormal: return linearLight ? NormalRow<true> : NormalRow<false>;
    case kBlendSubtractiveErase: return SubtractiveEraseRow;
    case kBlendClipToSource: return ClipToSourceRow;
    case kBlendMultiplicativeErase: return MultiplicativeEraseRow;
    case kBlendKeyColourSkip: return KeyColourSkipRow;
    case kBlendPaintColour: return PaintColourRow;
    default: return CopyRow;  // 0, 3 and every number without a row of its own
    }
}

BlendRowFunction BlendParams::RowFunction() const { return ResolveRowFunction(mode, linearLight != 0, BestPixelIsa()); }

}  // namespace tarn
