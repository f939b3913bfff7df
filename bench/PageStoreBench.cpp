// The whole page-store read (magic, head and map pages, metadata verification, blob pages,
// zstd, copy into the image) against bare ZSTD_decompressDCtx of the same frame into a
// buffer that is allocated and touched once. The read should stay within 1.3x of the bare
// decompression for the larger previews. The band read (ReadPageStorePreview into a sink that
// only looks at each row) should be no slower than the bare decompression: it decodes into a
// band that stays in cache instead of a whole preview. The 2 GiB zero frame that declares one
// byte less must end fast and small, with or without its content size in the frame header.
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

#include "image/PreviewSink.h"
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

// Calls read(stream) once per iteration on a memory stream over `document`, rewound each time,
// and reports how far the resident set grew.
template <class Read>
void ReadEachIteration(benchmark::State& state, const testdoc::Bytes& document, Read read) {
    IStream* stream = SHCreateMemStream(document.data(), UINT(document.size()));
    long before = StatusKiB("VmRSS:");
    bool peakReset = ResetPeak();
    for (auto _ : state) {
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        read(stream);
    }
    ReportPeak(state, before, peakReset);
    stream->Release();
}

void BM_ReadPageStoreThumbnail(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    ReadEachIteration(state, sample.document, [&](IStream* stream) {
        tarn::CImage32 image;  // fresh per request, as the provider makes it
        if (!ReadPageStoreThumbnail(image, stream)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.Pixels());
    });
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

// Takes the rows and reads one word of each, as a consumer that scales them would.
class TouchingSink final : public tarn::PreviewSink {
public:
    bool Begin(int32_t width, int32_t) override {
        width_ = width;
        return true;
    }
    void Rows(const uint32_t* rows, int32_t count) override {
        for (int32_t i = 0; i < count; ++i) sum_ += rows[size_t(i) * size_t(width_)];
        rows_ += count;
    }
    void Discard() override { rows_ = -1; }
    int64_t rows_ = 0;
    uint32_t sum_ = 0;

private:
    int32_t width_ = 1;
};

void BM_ReadPageStorePreview(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    ReadEachIteration(state, sample.document, [&](IStream* stream) {
        TouchingSink sink;
        if (ReadPageStorePreview(sink, stream) != tarn::PreviewOutcome::Delivered || sink.rows_ != state.range(0)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sink.sum_);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.decodedSize));
}

// ZSTD_decompressStream of the same frame into one 256 KiB buffer: the floor of any band read.
void BM_BareZstdStream(benchmark::State& state) {
    const Sample& sample = SampleOfSize(uint32_t(state.range(0)));
    testdoc::Bytes band(256 * 1024);
    ZSTD_DCtx* context = ZSTD_createDCtx();
    for (auto _ : state) {
        ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
        ZSTD_inBuffer in{sample.frame.data(), sample.frame.size(), 0};
        size_t left = 1, total = 0;
        while (left != 0) {
            ZSTD_outBuffer out{band.data(), band.size(), 0};
            left = ZSTD_decompressStream(context, &out, &in);
            if (ZSTD_isError(left)) {
                state.SkipWithError("zstd failed");
                break;
            }
            total += out.pos;
        }
        if (total != sample.decodedSize) state.SkipWithError("zstd short");
        benchmark::DoNotOptimize(band.data());
    }
    ZSTD_freeDCtx(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.decodedSize));
}

// 2^31 bytes of zeros in RLE blocks (64 KB of frame), declared as 2^31 - 1 bytes, for a preview
// of 23170 x 23170 (just under 2^31 bytes). Argument 1: the frame header states the size.
const testdoc::Bytes& ZeroFrameDocument(bool sized) {
    static std::map<bool, testdoc::Bytes> documents;
    auto it = documents.find(sized);
    if (it != documents.end()) return it->second;
    const testdoc::Bytes frame = testdoc::ZeroRleFrame(1ull << 31, sized);
    testdoc::PageStoreWriter writer;
    writer.SetPage(0, {});
    writer.WriteBlob(5, testdoc::ZstdBlob(frame, 0x7FFFFFFF));
    writer.WriteBlob(0, testdoc::MetadataBuffer(testdoc::ThumbnailFields{23170, 23170, 5}));
    return documents.emplace(sized, writer.Finish().Flatten()).first->second;
}

void BM_ZeroFrame2GiB(benchmark::State& state) {
    ReadEachIteration(state, ZeroFrameDocument(state.range(0) != 0), [&](IStream* stream) {
        TouchingSink sink;
        // The frame runs one byte past its declared size: no preview stands.
        if (ReadPageStorePreview(sink, stream) != tarn::PreviewOutcome::Undecodable || sink.rows_ > 0) state.SkipWithError("frame accepted");
    });
}

}  // namespace

BENCHMARK(BM_ReadPageStorePreview)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareZstdStream)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeroFrame2GiB)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ReadPageStoreThumbnail)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareZstdDecompress)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZstdIntoFreshBlock)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
