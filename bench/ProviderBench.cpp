// One thumbnail request end to end (Initialize on a memory stream, GetThumbnail, bitmap
// released) for page-store documents with zstd previews, in the same run as:
//   whole: the request made from the whole preview image (read, resampled, centred on a
//          canvas), as the provider made it before previews were streamed;
//   bare zstd: the same zstd frame decompressed into a warm buffer, nothing else;
//   floor: the same zstd frame decompressed into a preallocated image, then Resample alone;
//   vips:  vips_thumbnail_buffer (one thread) on the same pixels stored as a PNG.
// Arguments: preview edge (1024 or 4096) and cx (256 or 1024).
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <vips/vips.h>
#include <zstd.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "image/Resample.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "server/Exports.h"
#include "server/Module.h"
#include "server/FitIntoSquare.h"
#include "server/ZavelThumbnailProvider.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/WholePreviewThumbnail.h"

namespace {

struct Fixture {
    testdoc::PreviewImage picture;
    std::vector<uint8_t> document;  // page-store file, zstd preview
    std::vector<uint8_t> frame;     // the preview as a bare zstd frame, same level
    std::vector<uint8_t> png;       // the preview as a PNG
};

const Fixture& FixtureFor(uint32_t edge) {
    static std::map<uint32_t, std::unique_ptr<Fixture>> cache;
    auto& slot = cache[edge];
    if (slot) return *slot;
    slot = std::make_unique<Fixture>();
    Fixture& f = *slot;
    f.picture = testdoc::MakeTestPattern(edge, edge);
    f.document = testdoc::WritePageStoreDocument(f.picture);
    const auto raw = testdoc::PixelBytes(f.picture);
    f.frame.resize(ZSTD_compressBound(raw.size()));
    f.frame.resize(ZSTD_compress(f.frame.data(), f.frame.size(), raw.data(), raw.size(), 3));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = edge;
    image.height = edge;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, f.picture.pixels.data(), 0, nullptr))
        throw std::runtime_error("png size");
    f.png.resize(size);
    if (!png_image_write_to_memory(&image, f.png.data(), &size, 0, f.picture.pixels.data(), 0, nullptr))
        throw std::runtime_error("png write");
    f.png.resize(size);
    return f;
}

void ReportPeak(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_Provider(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    const UINT cx = static_cast<UINT>(state.range(1));
    IStream* stream = SHCreateMemStream(f.document.data(), static_cast<UINT>(f.document.size()));
    IClassFactory* factory = nullptr;
    DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    for (auto _ : state) {
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        IInitializeWithStream* init = nullptr;
        factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
        init->Initialize(stream, STGM_READ);
        IThumbnailProvider* thumbs = nullptr;
        init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbs));
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha;
        if (thumbs->GetThumbnail(cx, &bitmap, &alpha) != S_OK) state.SkipWithError("no thumbnail");
        DeleteObject(bitmap);
        thumbs->Release();
        init->Release();
    }
    factory->Release();
    stream->Release();
    ReportPeak(state);
}

void BM_WholePreviewRequest(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    const UINT cx = static_cast<UINT>(state.range(1));
    IStream* stream = SHCreateMemStream(f.document.data(), static_cast<UINT>(f.document.size()));
    for (auto _ : state) {
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        HBITMAP bitmap = nullptr;
        if (testdoc::WholePreviewThumbnail(ReadPageStoreThumbnail, stream, cx, &bitmap) != S_OK)
            state.SkipWithError("no thumbnail");
        DeleteObject(bitmap);
    }
    stream->Release();
    ReportPeak(state);
}

// The page-store source alone, its rows going nowhere: what the request spends decoding.
void BM_SourceOnly(benchmark::State& state) {
    struct NullSink final : tarn::PreviewSink {
        bool Begin(int32_t, int32_t) override { return true; }
        void Rows(const uint32_t* rows, int32_t) override { benchmark::DoNotOptimize(rows); }
        void Discard() override {}
    } sink;
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    IStream* stream = SHCreateMemStream(f.document.data(), static_cast<UINT>(f.document.size()));
    for (auto _ : state) {
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (ReadPageStorePreview(sink, stream) != tarn::PreviewOutcome::Delivered) state.SkipWithError("read failed");
    }
    stream->Release();
    ReportPeak(state);
}

// Decoding alone, into a buffer that stays allocated and touched between iterations.
void BM_BareZstd(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    const size_t bytes = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(0)) * 4;
    std::vector<uint8_t> out(bytes, 1);
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    for (auto _ : state) {
        if (ZSTD_isError(ZSTD_decompressDCtx(dctx, out.data(), bytes, f.frame.data(), f.frame.size())))
            state.SkipWithError("zstd");
        benchmark::DoNotOptimize(out.data());
    }
    ZSTD_freeDCtx(dctx);
    ReportPeak(state);
}

void BM_Floor(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    const UINT cx = static_cast<UINT>(state.range(1));
    const int32_t edge = static_cast<int32_t>(state.range(0));
    tarn::CImage32 source, scaled;
    source.Resize(edge, edge);
    const FittedSize fit = FitIntoSquare(edge, edge, cx);
    scaled.Resize(fit.width, fit.height);
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    const size_t bytes = static_cast<size_t>(edge) * edge * 4;
    for (auto _ : state) {
        if (ZSTD_isError(ZSTD_decompressDCtx(dctx, source.Pixels(), bytes, f.frame.data(), f.frame.size())))
            state.SkipWithError("zstd");
        tarn::Resample(scaled, source, scaled.Width(), scaled.Height());
        benchmark::DoNotOptimize(scaled.Pixels());
    }
    ZSTD_freeDCtx(dctx);
    ReportPeak(state);
}

// The reader function alone on a fresh image, to see where the request's time goes.
void BM_ReaderOnly(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    IStream* stream = SHCreateMemStream(f.document.data(), static_cast<UINT>(f.document.size()));
    for (auto _ : state) {
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        tarn::CImage32 image;
        if (!ReadPageStoreThumbnail(image, stream)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.Pixels());
    }
    stream->Release();
    ReportPeak(state);
}

void BM_VipsThumbnailPng(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<uint32_t>(state.range(0)));
    const int cx = static_cast<int>(state.range(1));
    for (auto _ : state) {
        VipsImage* out = nullptr;
        if (vips_thumbnail_buffer(const_cast<uint8_t*>(f.png.data()), f.png.size(), &out, cx, "height", cx,
                                  nullptr) != 0) {
            state.SkipWithError(vips_error_buffer());
            vips_error_clear();
            break;
        }
        size_t size = 0;
        void* pixels = vips_image_write_to_memory(out, &size);
        benchmark::DoNotOptimize(pixels);
        g_free(pixels);
        g_object_unref(out);
    }
    ReportPeak(state);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"preview", "cx"});
    for (int64_t edge : {1024, 4096})
        for (int64_t cx : {256, 1024}) b->Args({edge, cx});
    b->Unit(benchmark::kMillisecond);
    // libvips works on threads of its own: the CPU time of the whole process compares, and
    // stays meaningful on a loaded machine where wall time does not.
    b->MeasureProcessCPUTime();
}

BENCHMARK(BM_Provider)->Apply(Args);
BENCHMARK(BM_WholePreviewRequest)->Apply(Args);
BENCHMARK(BM_BareZstd)->Apply([](benchmark::internal::Benchmark* b) {
    b->ArgNames({"preview"})->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
});
BENCHMARK(BM_SourceOnly)->Apply([](benchmark::internal::Benchmark* b) {
    b->ArgNames({"preview"})->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
});
BENCHMARK(BM_Floor)->Apply(Args);
BENCHMARK(BM_VipsThumbnailPng)->Apply(Args);
BENCHMARK(BM_ReaderOnly)->Apply([](benchmark::internal::Benchmark* b) {
    b->ArgNames({"preview", "cx"})->Args({1024, 0})->Args({4096, 0})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
});

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
