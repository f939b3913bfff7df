// Portable kernel of the area average for footprints of at most 2 x 2 source pixels
// (enlargements by ratios that are not whole numbers): each destination pixel weighs its
// up to four source pixels directly (see NarrowRowJob).
#include "image/ResampleKernels.h"

namespace tarn::resample {

void NarrowRowScalar(const NarrowRowJob& job) {
    for (size_t x = 0; x < job.count; ++x) {
        const EdgeColumns& e = job.cols[x];
        // Up to four pixels; a weight of 0 marks one the footprint lacks. max(w, 1) * B and
        // w * B raise to the same C, since B <= 255.
        const uint32_t pixels[4] = {job.top[e.first], job.top[e.last], job.bottom ? job.bottom[e.first] : 0u,
                                    job.bottom ? job.bottom[e.last] : 0u};
        const uint32_t columns[4] = {e.wFirst, e.wLast, e.wFirst, e.wLast};
        const bool present[4] = {true, e.wLast != 0, job.bottom != nullptr, job.bottom != nullptr && e.wLast != 0};
        uint32_t sum[4] = {0, 0, 0, 0}, weight = 0;
        const uint32_t firstAlpha = pixels[0] >> 24;
        bool same = true;
        for (int k = 0; k < 4; ++k) {
            if (!present[k]) continue;
            const uint32_t p = pixels[k], a = p >> 24;
            const uint32_t C = std::max(columns[k] * (k < 2 ? job.B0 : job.B1), 255u);
            const uint32_t v = Div255(a * C);
            same = same && a == firstAlpha;
            sum[0] += (p & 255) * v;
            sum[1] += ((p >> 8) & 255) * v;
            sum[2] += ((p >> 16) & 255) * v;
            sum[3] += v;
            weight += C;
        }
        if (sum[3] == 0) {
            job.out[x] = 0;
            continue;
        }
        const uint32_t alpha = same ? firstAlpha : sum[3] * 255 / weight;
        job.out[x] = PackAverage(sum[0], sum[1], sum[2], sum[3], alpha);
    }
}

}  // namespace tarn::resample
