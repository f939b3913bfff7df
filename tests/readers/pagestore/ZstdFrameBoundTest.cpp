// The output limit read from zstd block headers: exact for raw and RLE blocks, never below
// what zstd produces, and deaf to frame headers that claim more than their blocks hold.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <zstd.h>

#include <limits>
#include <optional>
#include <vector>

#include "readers/pagestore/ZstdFrameBound.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kBlockMax = 128 * 1024;

// Frame header: magic, descriptor (FCS field size flag, checksum flag), window descriptor
// 2^17, optional 8-byte content size.
Bytes FrameHeader(std::optional<uint64_t> contentSize, bool checksum = false) {
    Bytes h = {0x28, 0xB5, 0x2F, 0xFD};
    h.push_back(static_cast<uint8_t>((contentSize ? 3u << 6 : 0u) | (checksum ? 1u << 2 : 0u)));
    h.push_back(0x38);  // window log 17
    if (contentSize)
        for (int i = 0; i < 8; ++i) h.push_back(static_cast<uint8_t>(*contentSize >> (8 * i)));
    return h;
}

void Block(Bytes& out, uint32_t type, uint32_t size, bool last, const Bytes& payload) {
    const uint32_t header = (size << 3) | (type << 1) | (last ? 1u : 0u);
    out.insert(out.end(), {static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8),
                           static_cast<uint8_t>(header >> 16)});
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Compressed(const Bytes& plain, bool contentSize) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, contentSize ? 1 : 0);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    Bytes out(ZSTD_compressBound(plain.size()));
    out.resize(ZSTD_compress2(cctx, out.data(), out.size(), plain.data(), plain.size()));
    ZSTD_freeCCtx(cctx);
    return out;
}

Bytes Text(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>("thumbnail pixels "[i % 17] + (i / 4096) % 7);
    return b;
}

TEST(ZstdOutputLimit, FramesByTheirBlocks) {
    Bytes raw = FrameHeader(std::nullopt);
    Block(raw, 0, 100, false, Bytes(100, 1));
    Block(raw, 0, 200, true, Bytes(200, 2));
    Bytes rle = FrameHeader(std::nullopt);
    Block(rle, 1, 5000, true, {7});
    Bytes claims = FrameHeader(uint64_t{0x7FFFFFFF});  // content size far above its one empty block
    Block(claims, 0, 0, true, {});
    Bytes claimsLess = FrameHeader(uint64_t{40});
    Block(claimsLess, 1, 5000, true, {7});
    Bytes checksummed = FrameHeader(std::nullopt, true);
    Block(checksummed, 0, 3, true, {1, 2, 3});
    checksummed.insert(checksummed.end(), {0, 0, 0, 0});
    Bytes compressedBlock = FrameHeader(std::nullopt);
    Block(compressedBlock, 2, 4, true, {0, 0, 0, 0});
    const Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 9, 9, 9};

    const struct {
        const char* name;
        Bytes frames;
        uint64_t limit;
    } cases[] = {
        {"nothing", {}, 0},
        {"raw blocks", raw, 300},
        {"RLE block", rle, 5000},
        {"content size above the blocks", claims, 0},
        {"content size below the blocks", claimsLess, 40},
        {"checksum after the last block", checksummed, 3},
        {"compressed block counts the block limit", compressedBlock, kBlockMax},
        {"two frames", Join({raw, rle}), 5300},
        {"skippable frame between", Join({raw, skippable, rle}), 5300},
        {"last block cut short", Bytes(raw.begin(), raw.end() - 1), kUnknown},
        {"checksum missing", Bytes(checksummed.begin(), checksummed.end() - 2), kUnknown},
        {"not a frame", {'n', 'o', 't', ' ', 'z', 's', 't', 'd'}, kUnknown},
        {"trailing bytes after a frame", Join({raw, {1, 2}}), kUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pagestore::ZstdOutputLimit(c.frames.data(), c.frames.size()), c.limit);
    }
}

TEST(ZstdOutputLimit, NeverBelowWhatZstdProduces) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{1000}, size_t{300000}, size_t{1} << 20}) {
        for (bool contentSize : {true, false}) {
            SCOPED_TRACE(testing::Message() << size << (contentSize ? " with" : " without") << " content size");
            const Bytes plain = Text(size);
            const Bytes frame = Compressed(plain, contentSize);
            const uint64_t limit = pagestore::ZstdOutputLimit(frame.data(), frame.size());
            EXPECT_GE(limit, plain.size());
            EXPECT_LE(limit, ZSTD_decompressBound(frame.data(), frame.size()));
            if (contentSize) EXPECT_EQ(limit, plain.size());
            // Decoding into exactly the limit succeeds.
            Bytes out(limit ? limit : 1);
            const size_t n = ZSTD_decompress(out.data(), limit, frame.data(), frame.size());
            ASSERT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
            EXPECT_EQ(n, plain.size());
        }
    }
}

}  // namespace
