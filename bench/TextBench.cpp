// UTF-16 to UTF-8 throughput, in bytes of UTF-16 input per second, next to glibc's iconv on the
// same texts in the same run. Each text is 1 MiB of UTF-16.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "text/unicode_to_utf8_engine.h"
#include "text/utf8_kernels.h"

namespace {

constexpr size_t kUnits = 512 * 1024;

void append_code_point(std::u16string& t, uint32_t c) {
    if (c < 0x10000) {
        t += static_cast<char16_t>(c);
    } else {
        t += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        t += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
}

std::u16string ascii_text() {
    static const char kWords[] = "The quick brown fox jumps over the lazy dog; 0123456789 (path\\to\\file.kwb)\n";
    std::u16string t;
    while (t.size() < kUnits)
        for (const char* p = kWords; *p && t.size() < kUnits; ++p)
            t += static_cast<char16_t>(*p);
    return t;
}

// Words of Latin letters, some accented, alternating at random with runs of CJK ideographs.
std::u16string mixed_text() {
    std::mt19937 rng(42);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    static const char16_t kAccented[] = u"éèêàâçôûüöäßñáíóú";
    std::u16string t;
    while (t.size() < kUnits) {
        if (pick(0, 1)) {
            for (uint32_t k = pick(2, 9); k > 0; --k)
                t += pick(0, 6) == 0 ? kAccented[pick(0, 16)] : static_cast<char16_t>(pick('a', 'z'));
            t += u' ';
        } else {
            for (uint32_t k = pick(2, 8); k > 0; --k)
                t += static_cast<char16_t>(pick(0x4E00, 0x9FFF));
            if (pick(0, 2) == 0)
                t += u'\u3002';  // ideographic full stop
        }
    }
    t.resize(kUnits);
    return t;
}

// Mostly emoji (surrogate pairs), some with skin-tone modifiers, variation selectors and
// zero-width joiners, separated now and then by spaces.
std::u16string emoji_text() {
    std::mt19937 rng(43);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    std::u16string t;
    while (t.size() < kUnits) {
        append_code_point(t, pick(0x1F300, 0x1F64F));
        const uint32_t extra = pick(0, 9);
        if (extra == 0)
            append_code_point(t, pick(0x1F3FB, 0x1F3FF));
        else if (extra == 1)
            t += u'\uFE0F';
        else if (extra == 2)
            t += u'\u200D';
        if (pick(0, 3) == 0)
            t += u' ';
    }
    t.resize(kUnits - 1);
    if ((t.back() & 0xFC00) == 0xD800)
        t.back() = u' ';
    return t;
}

const std::u16string& corpus(int which) {
    static const std::u16string texts[] = {ascii_text(), mixed_text(), emoji_text()};
    return texts[which];
}

const char* const kCorpusNames[] = {"ascii", "mixed", "emoji"};

void set_label(benchmark::State& state, int which) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * corpus(which).size() * 2);
    state.SetLabel(kCorpusNames[which]);
}

void BM_Iconv(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::u16string& text = corpus(which);
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    std::vector<char> out(text.size() * 3 + 16);
    for (auto _ : state) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
        size_t in_left = text.size() * 2;
        char* dst = out.data();
        size_t out_left = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &in_left, &dst, &out_left) == static_cast<size_t>(-1))
            state.SkipWithError("iconv failed");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    set_label(state, which);
}

// The public function: a fresh string per call, as a caller gets it.
void BM_UnicodeToUtf8(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::u16string& text = corpus(which);
    for (auto _ : state) {
        std::string out = babel::unicode_to_utf8(text);
        benchmark::DoNotOptimize(out.data());
    }
    set_label(state, which);
}

// One engine reused: its target keeps its capacity, like iconv's preallocated output above.
void BM_EngineReused(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::u16string& text = corpus(which);
    babel::unicode_to_utf8_engine engine;
    for (auto _ : state) {
        engine.clear();
        engine.feed(text);
        engine.flush();
        benchmark::DoNotOptimize(engine.target().data());
    }
    set_label(state, which);
}

// Each kernel on its own, block after block into one buffer.
void BM_Kernel(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const auto kernels = babel::detail::available_kernels();
    const size_t k = static_cast<size_t>(state.range(1));
    if (k >= kernels.size()) {
        state.SkipWithError("kernel not supported here");
        return;
    }
    const std::u16string& text = corpus(which);
    std::vector<char> block(4096 + babel::detail::kEncodeSlack);
    for (auto _ : state) {
        size_t i = 0;
        while (i < text.size()) {
            const size_t bytes = kernels[k].fn(text.data(), text.size(), i, block.data(), 4096);
            benchmark::DoNotOptimize(block.data());
            if (bytes < 4096)
                break;
        }
    }
    set_label(state, which);
    state.SetLabel(std::string(kCorpusNames[which]) + "/" + kernels[k].name);
}

BENCHMARK(BM_Iconv)->DenseRange(0, 2);
BENCHMARK(BM_UnicodeToUtf8)->DenseRange(0, 2);
BENCHMARK(BM_EngineReused)->DenseRange(0, 2);
BENCHMARK(BM_Kernel)->ArgsProduct({{0, 1, 2}, {0, 1, 2}});

}  // namespace

BENCHMARK_MAIN();
