// Blit throughput on 1024 x 1024 images with a semi-transparent layer, beside memcpy of the
// same bytes and pixman's combiners on the same pixels (premultiplied, as pixman requires).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/BlendParams.h"
#include "image/CImage32.h"

namespace {

constexpr int kSize = 1024;
constexpr int64_t kPixels = int64_t(kSize) * kSize;

// Layer: every alpha 0..255 with random colours. Destination: opaque, or translucent
// (alpha 1..254) for the compositing modes.
std::vector<uint32_t> RandomPixels(uint32_t seed, uint32_t alphaLow, uint32_t alphaHigh) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> alpha(alphaLow, alphaHigh);
    std::vector<uint32_t> p(kPixels);
    for (auto& v : p) v = (alpha(rng) << 24) | (rng() & 0xFFFFFF);
    return p;
}

const std::vector<uint32_t>& Layer() {
    static const auto p = RandomPixels(1, 0, 255);
    return p;
}
const std::vector<uint32_t>& Backdrop(bool translucent) {
    static const auto opaque = RandomPixels(2, 255, 255);
    static const auto partial = RandomPixels(3, 1, 254);
    return translucent ? partial : opaque;
}

void Load(tarn::CImage32& image, const std::vector<uint32_t>& pixels) {
    image.Resize(kSize, kSize);
    std::memcpy(image.Pixels(), pixels.data(), pixels.size() * 4);
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint32_t> dst(kPixels);
    const auto& src = Layer();
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kPixels * 4);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Memcpy);

// Arguments: mode, translucent destination.
void BM_Blit(benchmark::State& state) {
    tarn::CImage32 layer, canvas;
    Load(layer, Layer());
    const auto& backdrop = Backdrop(state.range(1) != 0);
    Load(canvas, backdrop);
    tarn::BlendParams params;
    params.mode = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        if (params.mode != 0) {  // blends change the canvas: start each pass from the backdrop
            state.PauseTiming();
            std::memcpy(canvas.Pixels(), backdrop.data(), kPixels * 4);
            state.ResumeTiming();
        }
        canvas.Blit(params, 0, 0, layer, kSize, kSize);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Blit)->ArgNames({"mode", "translucent"})
    ->Args({0, 0})->Args({8, 0})->Args({11, 0})->Args({10, 0})->Args({22, 0})->Args({28, 1})->Args({28, 0});

std::vector<uint32_t> Premultiplied(const std::vector<uint32_t>& straight) {
    std::vector<uint32_t> p(straight.size());
    for (size_t i = 0; i < p.size(); ++i) {
        const uint32_t a = straight[i] >> 24;
        auto ch = [&](int s) { return ((((straight[i] >> s) & 0xFF) * a + 127) / 255) << s; };
        p[i] = (a << 24) | ch(16) | ch(8) | ch(0);
    }
    return p;
}

// Arguments: pixman operator, translucent destination.
void BM_Pixman(benchmark::State& state) {
    auto src = Premultiplied(Layer());
    const auto backdrop = Premultiplied(Backdrop(state.range(1) != 0));
    auto dst = backdrop;
    pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, src.data(), kSize * 4);
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, dst.data(), kSize * 4);
    const auto op = static_cast<pixman_op_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(dst.data(), backdrop.data(), kPixels * 4);
        state.ResumeTiming();
        pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSize, kSize);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Pixman)->ArgNames({"op", "translucent"})
    ->Args({PIXMAN_OP_MULTIPLY, 0})->Args({PIXMAN_OP_SCREEN, 0})->Args({PIXMAN_OP_OVERLAY, 0})
    ->Args({PIXMAN_OP_HSL_HUE, 0})->Args({PIXMAN_OP_OVER, 1});

}  // namespace

BENCHMARK_MAIN();
