// pagestore::ZstdOutputLimit against zstd itself: whatever zstd decodes from the input, the
// limit must not be below it, or a valid pixel blob would be refused for want of room. And the
// walker behind it gives the same answers fed in pieces as fed at once.
// Input: the compressed bytes.
#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "readers/pagestore/ZstdFrameBound.h"

namespace {
// Room enough for what small inputs decode to; larger outputs are skipped.
constexpr size_t kMaxOutput = size_t{8} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t limit = pagestore::ZstdOutputLimit(data, size);
    // Fed in pieces, as the band reader feeds what zstd consumed, the walker comes to the same
    // count and the same verdict on oversized blocks.
    pagestore::ZstdFrameWalker whole, pieces;
    whole.Feed(data, size);
    for (size_t at = 0, piece = 1; at < size; at += piece, piece = piece % 7 + 1)
        pieces.Feed(data + at, std::min(piece, size - at));
    if (pieces.OutputLimit() != limit || whole.OutputLimit() != limit ||
        pieces.OversizedBlock() != whole.OversizedBlock()) {
        std::fprintf(stderr, "fuzz: the walker fed in pieces disagrees\n");
        std::abort();
    }
    static std::vector<uint8_t> out(kMaxOutput);
    const size_t produced = ZSTD_decompress(out.data(), out.size(), data, size);
    if (ZSTD_isError(produced)) return 0;
    if (produced > limit) {
        std::fprintf(stderr, "fuzz: zstd produced %zu bytes, limit %llu\n", produced,
                     static_cast<unsigned long long>(limit));
        std::abort();
    }
    // Decoding into exactly the limit gives the same bytes.
    if (limit < out.size()) {
        std::vector<uint8_t> exact(limit ? limit : 1);
        const size_t again = ZSTD_decompress(exact.data(), limit, data, size);
        if (ZSTD_isError(again) || again != produced) {
            std::fprintf(stderr, "fuzz: decoding into the limit failed\n");
            std::abort();
        }
    }
    return 0;
}
