// Internal to resampling: the pixel sums of the aligned-footprint kernels (AlignedRowJob),
// shared by the portable and the vector set.
#pragma once

#include <cstdint>

#include "image/ResampleKernels.h"

namespace tarn::resample {

// P = (b*a, g*a, r*a, a) of a pixel into s.
inline void AddPremultiplied(uint32_t s[4], uint32_t p) {
    const uint32_t a = p >> 24;
    s[0] += (p & 255) * a;
    s[1] += ((p >> 8) & 255) * a;
    s[2] += ((p >> 16) & 255) * a;
    s[3] += a;
}

// G = [a >= 2] * (b, g, r, 1): what a pixel on the block's first row or column weighs less
// than 255a.
inline void AddRounding(uint32_t s[4], uint32_t p) {
    const uint32_t m = (p >> 24) >= 2 ? 1u : 0u;
    s[0] += (p & 255) * m;
    s[1] += ((p >> 8) & 255) * m;
    s[2] += ((p >> 16) & 255) * m;
    s[3] += m;
}

// The column sums T, U and the alpha range of source column c of the span (AlignedRowJob).
inline void AlignedColumn(const AlignedRowJob& job, size_t c) {
    const uint32_t* top = job.top + job.spanFirst + c;
    const uint32_t bottom = job.bottom[job.spanFirst + static_cast<int64_t>(c)];
    uint32_t block[4] = {0, 0, 0, 0}, last[4] = {0, 0, 0, 0}, first[4] = {0, 0, 0, 0};
    uint32_t range = AlphaWord(bottom);
    for (size_t r = 0; r < job.blockRows; ++r) {
        const uint32_t p = top[static_cast<ptrdiff_t>(r) * job.stride];
        AddPremultiplied(block, p);
        range = MergeAlphaWords(range, AlphaWord(p));
    }
    AddPremultiplied(last, bottom);
    if (job.blockRows > 0) AddRounding(first, *top);
    job.blockSums[c] = {255 * block[0] - first[0] + last[0], 255 * block[1] - first[1] + last[1],
                        255 * block[2] - first[2] + last[2], 255 * block[3] - first[3] + last[3]};
    job.boundarySums[c] = {block[0] + last[0], block[1] + last[1], block[2] + last[2], block[3] + last[3]};
    job.alphas[c] = range;
}

// G summed down the block's first column below its first row: what those pixels weigh less
// than 255a.
inline void FirstColumnRounding(const AlignedRowJob& job, int64_t column, uint32_t g[4]) {
    for (size_t r = 1; r < job.blockRows; ++r) AddRounding(g, job.top[column + static_cast<ptrdiff_t>(r) * job.stride]);
}

// The column sums of the span's source columns from `from` on, AVX2.
void AlignedColumnsAvx2(const AlignedRowJob& job, size_t from);
// Destination pixels from column 0 on, four at a time, while their blocks are 4, 8 or 16
// columns wide: their columns summed and combined in registers. Returns how many it wrote (a
// multiple of four, 0 for other blocks); the columns of the rest are left unsummed.
size_t WholeBlockRowsAvx2(const AlignedRowJob& job);

}  // namespace tarn::resample
