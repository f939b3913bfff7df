// One row function per kernel index, row family and linear-light setting.
#include <array>
#include <utility>

#include "image/BlendKernels.h"
#include "image/BlendRows.h"

namespace tarn {
namespace {

template <bool KeepAlpha, bool Linear, int... I>
constexpr auto MakeTable(std::integer_sequence<int, I...>) {
    if constexpr (KeepAlpha) return std::array<BlendRowFunction, sizeof...(I)>{&KernelKeepAlphaRow<I, Linear>...};
    else return std::array<BlendRowFunction, sizeof...(I)>{&KernelCompositeRow<I, Linear>...};
}

using Indices = std::make_integer_sequence<int, kBlendKernelCount>;
constexpr auto kKeepAlpha = MakeTable<true, false>(Indices{});
constexpr auto kKeepAlphaLinear = MakeTable<true, true>(Indices{});
constexpr auto kComposite = MakeTable<false, false>(Indices{});
constexpr auto kCompositeLinear = MakeTable<false, true>(Indices{});

}  // namespace

BlendRowFunction KernelRowFunction(int index, bool keepAlpha, bool linearLight) {
    if (index < 0 || index >= kBlendKernelCount) return nullptr;
    if (keepAlpha) return linearLight ? kKeepAlphaLinear[index] : kKeepAlpha[index];
    return linearLight ? kCompositeLinear[index] : kComposite[index];
}

}  // namespace tarn
