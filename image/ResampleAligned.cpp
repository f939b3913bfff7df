// Portable kernel of the area average for footprints aligned to source pixels (whole-number
// ratios): source columns are summed down the footprint's rows once, and each destination
// pixel adds the column sums of its block and its boundary (see AlignedRowJob).
#include "image/ResampleAligned.h"

namespace tarn::resample {

void AlignedRowScalar(const AlignedRowJob& job) {
    for (size_t c = 0; c < job.spanCount; ++c) AlignedColumn(job, c);

    const ColumnSum* T = job.blockSums - job.spanFirst;
    const ColumnSum* U = job.boundarySums - job.spanFirst;
    const uint32_t* alphas = job.alphas - job.spanFirst;
    for (size_t x = 0; x < job.count; ++x) {
        const StripColumn& col = job.cols[x];
        const int64_t f = col.first, l = col.last;
        uint32_t s[4] = {U[l].b, U[l].g, U[l].r, U[l].a};
        uint32_t range = alphas[l];
        for (int64_t j = f; j < l; ++j) {
            s[0] += T[j].b;
            s[1] += T[j].g;
            s[2] += T[j].r;
            s[3] += T[j].a;
            range = MergeAlphaWords(range, alphas[j]);
        }
        if (f < l) {
            uint32_t g[4] = {0, 0, 0, 0};
            FirstColumnRounding(job, f, g);
            for (int k = 0; k < 4; ++k) s[k] -= g[k];
        }
        if (s[3] == 0) {
            job.out[x] = 0;
            continue;
        }
        const uint32_t lo = AlphaWordLo(range), hi = AlphaWordHi(range);
        const uint64_t alpha =
            lo == hi ? lo : uint64_t{s[3]} * 255 / AlignedWeightSum(static_cast<uint64_t>(l - f), job.blockRows);
        job.out[x] = PackAverage(s[0], s[1], s[2], s[3], alpha);
    }
}

}  // namespace tarn::resample
