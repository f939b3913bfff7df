// The output limit read from zstd block headers: exact for raw and RLE blocks, never below
// what zstd produces, and deaf to frame headers that claim more than their blocks hold.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <zstd.h>

#include <algorithm>
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
        // Fed in pieces, as a streaming decoder consumes them: the same count.
        for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, size_t{64}}) {
            pagestore::ZstdFrameWalker walker;
            for (size_t at = 0; at < c.frames.size(); at += piece)
                walker.Feed(c.frames.data() + at, std::min(piece, c.frames.size() - at));
            EXPECT_EQ(walker.OutputLimit(), c.limit) << "in pieces of " << piece;
            EXPECT_FALSE(walker.OversizedBlock());
        }
    }
}

// A block may be no larger than min(window, 128 KiB): raw and RLE blocks by what they make,
// compressed blocks by their own size. A frame stating its size in one segment has that size
// as its window.
TEST(ZstdFrameWalker, FindsBlocksLargerThanTheirFrameAllows) {
    auto header = [](uint8_t descriptor, uint8_t window, std::optional<uint8_t> size = std::nullopt) {
        Bytes h = {0x28, 0xB5, 0x2F, 0xFD, descriptor};
        h.push_back(size ? *size : window);  // a single-segment header has no window byte
        return h;
    };
    const Bytes window1k = header(0x00, 0x00), window128k = header(0x00, 0x38), window2m = header(0x00, 0x58);
    const Bytes oneSegment100 = header(0x20, 0, uint8_t{100});  // single segment, content size 100
    const struct {
        const char* name;
        Bytes head;
        uint32_t type, size;
        bool oversized;
    } cases[] = {
        {"raw block of the window", window1k, 0, 1024, false},
        {"raw block a byte over the window", window1k, 0, 1025, true},
        {"RLE block of 76800 in 1 KiB", window1k, 1, 76800, true},
        {"RLE block of 128 KiB in 128 KiB", window128k, 1, 128 * 1024, false},
        {"RLE block over 128 KiB in 2 MiB", window2m, 1, 128 * 1024 + 1, true},
        {"compressed block over the window", window1k, 2, 1025, true},
        {"raw block of the stated size", oneSegment100, 0, 100, false},
        {"raw block over the stated size", oneSegment100, 0, 101, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes frame = c.head;
        Block(frame, c.type, c.size, true, c.type == 1 ? Bytes{7} : Bytes(c.size, 7));
        for (size_t piece : {size_t{1}, frame.size()}) {
            pagestore::ZstdFrameWalker walker;
            for (size_t at = 0; at < frame.size(); at += piece)
                walker.Feed(frame.data() + at, std::min(piece, frame.size() - at));
            EXPECT_EQ(walker.OversizedBlock(), c.oversized) << "in pieces of " << piece;
            EXPECT_NE(walker.OutputLimit(), kUnknown);
        }
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
            if (contentSize) {
                EXPECT_EQ(limit, plain.size());
            }
            // Decoding into exactly the limit succeeds.
            Bytes out(limit ? limit : 1);
            const size_t n = ZSTD_decompress(out.data(), limit, frame.data(), frame.size());
            ASSERT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
            EXPECT_EQ(n, plain.size());
        }
    }
}

}  // namespace
