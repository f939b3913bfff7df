#include "server/FitIntoSquare.h"

FittedSize FitIntoSquare(int32_t w, int32_t h, UINT cx) {
    const int32_t n = static_cast<int32_t>(cx);
    const double r = h == 0 ? 1.0 : static_cast<double>(w) / static_cast<double>(h);
    // |n x r| and |n / r| never exceed |n| on their branches, so the truncations fit.
    if (w < h || r < 1.0) return {static_cast<int32_t>(n * r), n};
    return {n, static_cast<int32_t>(n / r)};
}
