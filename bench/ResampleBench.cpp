// Resample against libvips (vips_shrink, one thread) and pixman (separable box convolution) on
// the same source images. Throughput is in source pixels per second (items_per_second).
// alpha:0 is opaque (the fast path of one alpha per row); alpha:1 mixes transparent cells and
// a ramp of alphas so that almost every footprint takes the alpha-weighted path.
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "image/BandResampler.h"
#include "image/CImage32.h"
#include "image/Resample.h"

namespace {

struct Size {
    int32_t sw, sh, dw, dh;
};
// 3 enlarges by a ratio that is not whole (area average); 5 doubles (point sampling).
const Size kSizes[] = {{4096, 4096, 256, 256}, {4096, 4096, 1024, 1024}, {1000, 999, 256, 255},
                       {100, 50, 256, 128},    {1024, 1024, 256, 256},   {128, 64, 256, 128}};

// Smooth colour with noise; opaque, or with a varying alpha when `alpha` is set.
void MakeSource(tarn::CImage32& img, int32_t w, int32_t h, bool alpha) {
    img.Resize(w, h);
    std::mt19937 rng(42);
    uint32_t* p = img.Pixels();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t noise = rng() & 0x0F0F0F;
            const uint32_t a = alpha ? ((x / 7 + y / 5) % 3 == 0 ? 0u : 128u + (x * 255 / w) / 2) : 255u;
            p[static_cast<size_t>(y) * w + x] = (a << 24) | ((((x * 255 / w) << 16) | ((y * 255 / h) << 8) | 0x40) ^ noise);
        }
}

void SetCounters(benchmark::State& state, const Size& s) {
    const int64_t pixels = int64_t{s.sw} * s.sh;
    state.SetItemsProcessed(state.iterations() * pixels);
    state.SetBytesProcessed(state.iterations() * pixels * 4);
    // Time per destination pixel (seconds; 1n = 1 ns), the measure of enlargements.
    state.counters["per_dst_pixel"] = benchmark::Counter(static_cast<double>(state.iterations()) * s.dw * s.dh,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Resample(benchmark::State& state) {
    const Size& s = kSizes[state.range(0)];
    tarn::CImage32 src, dst;
    MakeSource(src, s.sw, s.sh, state.range(1) != 0);
    dst.Resize(s.dw, s.dh);
    for (auto _ : state) {
        tarn::Resample(dst, src, s.dw, s.dh);
        benchmark::DoNotOptimize(dst.Pixels()[0]);
    }
    SetCounters(state, s);
}

// The same scaling from rows handed over in bands of 16 rows (a streaming decoder's bands are a
// few hundred KB), Begin and its window included.
void BM_BandResample(benchmark::State& state) {
    const Size& s = kSizes[state.range(0)];
    tarn::CImage32 src, dst;
    MakeSource(src, s.sw, s.sh, state.range(1) != 0);
    dst.Resize(s.dw, s.dh);
    tarn::BandResampler band;
    for (auto _ : state) {
        band.Begin(dst, s.sw, s.sh);
        for (int32_t y = 0; y < s.sh; y += 16) band.Rows(src.RowAddress(y), std::min(16, s.sh - y));
        band.End();
        benchmark::DoNotOptimize(dst.Pixels()[0]);
    }
    SetCounters(state, s);
}

void BM_VipsShrink(benchmark::State& state) {
    const Size& s = kSizes[state.range(0)];
    tarn::CImage32 src;
    MakeSource(src, s.sw, s.sh, state.range(1) != 0);
    const size_t bytes = static_cast<size_t>(s.sw) * s.sh * 4;
    for (auto _ : state) {
        VipsImage* in = vips_image_new_from_memory(src.Pixels(), bytes, s.sw, s.sh, 4, VIPS_FORMAT_UCHAR);
        VipsImage* out = nullptr;
        if (vips_shrink(in, &out, double(s.sw) / s.dw, double(s.sh) / s.dh, nullptr) != 0) {
            g_object_unref(in);
            state.SkipWithError("vips_shrink failed (it only shrinks)");
            vips_error_clear();
            break;
        }
        size_t size = 0;
        void* result = vips_image_write_to_memory(out, &size);
        benchmark::DoNotOptimize(result);
        g_free(result);
        g_object_unref(out);
        g_object_unref(in);
    }
    SetCounters(state, s);
}

void BM_PixmanBox(benchmark::State& state) {
    const Size& s = kSizes[state.range(0)];
    tarn::CImage32 src, dst;
    MakeSource(src, s.sw, s.sh, state.range(1) != 0);
    dst.Resize(s.dw, s.dh);
    pixman_image_t* in = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.sw, s.sh, src.Pixels(), s.sw * 4);
    pixman_image_t* out = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.dw, s.dh, dst.Pixels(), s.dw * 4);
    const double sx = double(s.sw) / s.dw, sy = double(s.sh) / s.dh;
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
    pixman_image_set_transform(in, &t);
    int n = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &n, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE,
        PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
    pixman_image_set_filter(in, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, in, nullptr, out, 0, 0, 0, 0, 0, 0, s.dw, s.dh);
        benchmark::DoNotOptimize(dst.Pixels()[0]);
    }
    free(params);
    pixman_image_unref(out);
    pixman_image_unref(in);
    SetCounters(state, s);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "alpha"});
    for (int64_t i = 0; i < 6; ++i) b->Args({i, 0});
    for (int64_t i : {0, 1, 2, 3, 4}) b->Args({i, 1});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Resample)->Apply(Args);
BENCHMARK(BM_BandResample)->Apply(Args);
// vips computes on its own worker thread: count the CPU time of the whole process.
BENCHMARK(BM_VipsShrink)->Apply(Args)->MeasureProcessCPUTime();
BENCHMARK(BM_PixmanBox)->Apply(Args);

}  // namespace

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0])) return 1;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
