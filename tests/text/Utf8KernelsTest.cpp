// Every kernel the processor can run against the independent encoder, block by block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/text/Utf16Samples.h"
#include "text/utf8_kernels.h"

namespace {

using babel::detail::available_kernels;
using babel::detail::encode_kernel;
using babel::detail::kEncodeSlack;

constexpr char kGuard = '\x5A';

// Runs a kernel the way the engine does, one block of `limit` bytes after another, and checks
// that no block is overrun beyond the slack and none starts inside a code point.
std::string run_in_blocks(const encode_kernel& k, const std::u16string& text, size_t limit, size_t* consumed) {
    // Exactly sized copy, so a read past the end shows under AddressSanitizer.
    std::unique_ptr<char16_t[]> units(new char16_t[text.size() + 1]);
    std::copy(text.begin(), text.end(), units.get());
    std::vector<char> block(limit + kEncodeSlack + 16);
    std::string out;
    size_t i = 0;
    for (size_t steps = 0; steps <= text.size() + 1; ++steps) {
        std::fill(block.begin(), block.end(), kGuard);
        const size_t before = i;
        const size_t bytes = k.fn(units.get(), text.size(), i, block.data(), limit);
        EXPECT_LE(bytes, limit + kEncodeSlack) << k.name;
        for (size_t g = limit + kEncodeSlack; g < block.size(); ++g)
            EXPECT_EQ(block[g], kGuard) << k.name << ": wrote past the slack";
        if (bytes > 0) {
            EXPECT_NE(static_cast<unsigned char>(block[0]) & 0xC0, 0x80u) << k.name << ": block starts mid code point";
        }
        EXPECT_TRUE(bytes == 0 || i > before);
        out.append(block.data(), bytes);
        if (bytes < limit)
            break;
    }
    *consumed = i;
    return out;
}

TEST(Utf8Kernels, MatchReferenceOnRandomTextInBlocksOfAnySize) {
    std::mt19937 rng(1);
    for (const encode_kernel& k : available_kernels()) {
        for (int round = 0; round < 400; ++round) {
            const size_t units = std::uniform_int_distribution<size_t>(0, 600)(rng);
            const std::u16string text = textsamples::random_text(rng, units, round % 2 == 1);
            const size_t limit = std::uniform_int_distribution<size_t>(1, 200)(rng);
            size_t tail = 0;
            const std::string expected = textsamples::reference_utf8(text, &tail);
            size_t consumed = 0;
            ASSERT_EQ(run_in_blocks(k, text, limit, &consumed), expected) << k.name << " round " << round << " limit " << limit;
            EXPECT_EQ(consumed, text.size() - tail) << k.name;
        }
    }
}

// Surrogates of every kind at every position of a vector step and across step boundaries.
TEST(Utf8Kernels, SurrogatesAtEveryPosition) {
    const std::u16string pieces[] = {
        {0xD83D, 0xDE00}, {0xD800}, {0xDC00}, {0xDC00, 0xD800}, {0xD800, 0xD800, 0xDC00}, {0xDBFF, 0xDFFF, 0xDBFF},
    };
    for (const encode_kernel& k : available_kernels()) {
        for (const std::u16string& piece : pieces) {
            for (size_t lead = 0; lead < 40; ++lead) {
                for (size_t trail : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u}) {
                    std::u16string text(lead, u'\u00E9');
                    text += piece;
                    text += std::u16string(trail, u'\u4E2D');
                    size_t tail = 0, consumed = 0;
                    const std::string expected = textsamples::reference_utf8(text, &tail);
                    ASSERT_EQ(run_in_blocks(k, text, 4096, &consumed), expected) << k.name << " lead " << lead << " trail " << trail;
                    EXPECT_EQ(consumed, text.size() - tail);
                }
            }
        }
    }
}

TEST(Utf8Kernels, ProcessorOffersAtLeastTheScalarKernel) {
    ASSERT_FALSE(available_kernels().empty());
    EXPECT_STREQ(available_kernels()[0].name, "scalar");
    EXPECT_EQ(babel::detail::best_kernel(), available_kernels().back().fn);
}

}  // namespace
