// The whole page-store read (magic, head and map pages, metadata verification, blob pages,
// zstd, copy into the image) against bare ZSTD_decompressDCtx of the same frame into a
// buffer that is allocated and touched once. The read should stay within 1.3x of the bare
// decompression for the larger previews.
//
// peak_extra_MiB: how far the process's peak resident size rose above its size before the
// benchmark (Linux: the peak is reset through /proc/self/clear_refs first).
#include <benchmark/benchmark.h>

#include <zstd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "tests/support/DocumentWriter.h"

namespace {

struct Sample {
    testdoc::Bytes document;
    testdoc::Bytes frame;  // the pixel blob's zstd frame
    size_t decodedSize = 0;
};

const Sample& SampleOfSize(uint32_t edge) {
    static std::map<uint32_t, Sample> samples;
    auto it = samples.find(edge);
    if (it != samples.end()) return it->second;
    testdoc::PreviewImage preview = testdoc::MakeTestPattern(edge, edge, edge);
    Sample sample;
    testdoc::Bytes pixels = testdoc::PixelBytes(preview);
    testdoc::Bytes coded = testdoc::ZstdCoding(pixels);
    sample.frame.assign(coded.begin() + 9, coded.end());
    sample.decodedSize = pixels.size();
    sample.document = testdoc::WritePageStoreDocument(preview);
    return samples.emplace(edge, std::move(sample)).first->second;
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::stol(line.substr(n + 1));
    return -1;
}

// Resets the peak resident size to the current one; false where that is not possible.
bool ResetPeak() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void ReportPeak(benchmark::State& state, long rssBeforeKiB, bool peakReset) {
    if (peakReset) state.counters["peak_extra_MiB"] = double(StatusKiB("VmHWM:") - rssBeforeKiB) / 1024.0;
}

void BM_ReadPageStoreThumbnail(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    IStream* stream = SHCreateMemStream(sample.document.data(), UINT(sample.document.size()));
    long before = StatusKiB("VmRSS:");
    bool peakReset = ResetPeak();
    for (auto _ : state) {
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        tarn::CImage32 image;  // fresh per request, as the provider makes it
        if (!ReadPageStoreThumbnail(image, stream)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.Pixels());
    }
    ReportPeak(state, before, peakReset);
    stream->Release();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.decodedSize));
}

void BM_BareZstdDecompress(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    testdoc::Bytes out(sample.decodedSize);  // allocated and touched once
    ZSTD_DCtx* context = ZSTD_createDCtx();
    long before = StatusKiB("VmRSS:");
    bool peakReset = ResetPeak();
    for (auto _ : state) {
        size_t n = ZSTD_decompressDCtx(context, out.data(), out.size(), sample.frame.data(), sample.frame.size());
        if (ZSTD_isError(n) || n != out.size()) state.SkipWithError("zstd failed");
        benchmark::DoNotOptimize(out.data());
    }
    ReportPeak(state, before, peakReset);
    ZSTD_freeDCtx(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.decodedSize));
}

// The same decompression into a block allocated per call, as any per-request output is: the
// part of the read's cost that is the first touch of fresh memory.
void BM_ZstdIntoFreshBlock(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    ZSTD_DCtx* context = ZSTD_createDCtx();
    for (auto _ : state) {
        void* out = std::malloc(sample.decodedSize);
        size_t n = ZSTD_decompressDCtx(context, out, sample.decodedSize, sample.frame.data(), sample.frame.size());
        if (ZSTD_isError(n) || n != sample.decodedSize) state.SkipWithError("zstd failed");
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    ZSTD_freeDCtx(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.decodedSize));
}

}  // namespace

BENCHMARK(BM_ReadPageStoreThumbnail)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareZstdDecompress)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZstdIntoFreshBlock)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
