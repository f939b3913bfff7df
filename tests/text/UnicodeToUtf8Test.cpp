#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>
#include <random>
#include <string>

#include "tests/text/Utf16Samples.h"
#include "text/unicode_to_utf8_engine.h"

namespace {

using babel::unicode_to_utf8;
using babel::unicode_to_utf8_engine;

std::string bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list)
        s += static_cast<char>(b);
    return s;
}

struct Case {
    const char* what;
    std::u16string in;
    std::string out;
};

const Case kCases[] = {
    {"empty", u"", ""},
    {"ascii", {0x0041}, bytes({0x41})},
    {"latin", {0x00E9}, bytes({0xC3, 0xA9})},
    {"euro", {0x20AC}, bytes({0xE2, 0x82, 0xAC})},
    {"last one-byte", {0x007F}, bytes({0x7F})},
    {"first two-byte", {0x0080}, bytes({0xC2, 0x80})},
    {"last two-byte", {0x07FF}, bytes({0xDF, 0xBF})},
    {"first three-byte", {0x0800}, bytes({0xE0, 0xA0, 0x80})},
    {"last BMP", {0xFFFF}, bytes({0xEF, 0xBF, 0xBF})},
    {"pair", {0xD83D, 0xDE00}, bytes({0xF0, 0x9F, 0x98, 0x80})},
    {"highest pair", {0xDBFF, 0xDFFF}, bytes({0xF4, 0x8F, 0xBF, 0xBF})},
    {"lowest pair", {0xD800, 0xDC00}, bytes({0xF0, 0x90, 0x80, 0x80})},
    {"lone low", {0xDC00}, bytes({0xED, 0xB0, 0x80})},
    {"high then ascii", {0xD800, 0x0041}, bytes({0xED, 0xA0, 0x80, 0x41})},
    {"two highs then low", {0xD800, 0xD83D, 0xDE00}, bytes({0xED, 0xA0, 0x80, 0xF0, 0x9F, 0x98, 0x80})},
    {"low then high then ascii", {0xDC00, 0xD800, 0x41}, bytes({0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80, 0x41})},
    {"trailing high", {0x0041, 0xD800}, bytes({0x41, 0x3F})},
    {"only a high", {0xDBFF}, bytes({0x3F})},
    {"low then trailing high", {0xDC00, 0xD800}, bytes({0xED, 0xB0, 0x80, 0x3F})},
    {"nul kept", {0x41, 0x0000, 0x42}, bytes({0x41, 0x00, 0x42})},
};

TEST(UnicodeToUtf8, KnownEncodings) {
    for (const Case& c : kCases)
        EXPECT_EQ(unicode_to_utf8(c.in), c.out) << c.what;
}

// The same cases behind ASCII of every length up to a few vector widths, so each one lands on
// every position of a vector step, including the pair split across two steps.
TEST(UnicodeToUtf8, KnownEncodingsAtEveryOffset) {
    for (const Case& c : kCases) {
        for (size_t lead = 0; lead < 70; ++lead) {
            std::u16string in(lead, u'a');
            in += c.in;
            EXPECT_EQ(unicode_to_utf8(in), std::string(lead, 'a') + c.out) << c.what << " after " << lead;
            in += std::u16string(40, u'b');
            const std::string converted = unicode_to_utf8(in);
            // Appending text completes a trailing high surrogate, so only compare the rest then.
            if (c.out.empty() || c.out.back() != '?') {
                EXPECT_EQ(converted, std::string(lead, 'a') + c.out + std::string(40, 'b')) << c.what << " after " << lead;
            }
        }
    }
}

TEST(UnicodeToUtf8, SixHundredEuroSignsCrossBlocks) {
    std::string expected;
    for (int k = 0; k < 600; ++k)
        expected += bytes({0xE2, 0x82, 0xAC});
    EXPECT_EQ(unicode_to_utf8(std::u16string(600, u'\u20AC')), expected);
    EXPECT_EQ(expected.size(), 1800u);
}

TEST(UnicodeToUtf8, LongTextsMatchReference) {
    std::mt19937 rng(7);
    for (size_t units : {1000u, 4095u, 4096u, 4097u, 20000u, 100000u}) {
        for (bool valid : {true, false}) {
            const std::u16string text = textsamples::random_text(rng, units, valid);
            std::string expected = textsamples::reference_utf8(text);
            size_t tail = 0;
            textsamples::reference_utf8(text, &tail);
            expected.append(tail, '?');
            ASSERT_EQ(unicode_to_utf8(text), expected) << units << (valid ? " valid" : " with lone surrogates");
        }
    }
}

// Random valid UTF-16 must come back unchanged through glibc's decoder.
TEST(UnicodeToUtf8, RoundTripThroughIconv) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const std::u16string text = textsamples::random_text(rng, std::uniform_int_distribution<size_t>(0, 3000)(rng), true);
        std::string utf8 = unicode_to_utf8(text);
        std::u16string back(text.size() + 1, u'\0');
        char* in = utf8.data();
        size_t in_left = utf8.size();
        char* out = reinterpret_cast<char*>(back.data());
        size_t out_left = back.size() * 2;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(iconv(cd, &in, &in_left, &out, &out_left), static_cast<size_t>(-1)) << "invalid UTF-8 in round " << round;
        EXPECT_EQ(in_left, 0u);
        back.resize(back.size() - out_left / 2);
        ASSERT_EQ(back, text) << "round " << round;
    }
    iconv_close(cd);
}

TEST(UnicodeToUtf8Engine, TranslateKeepsTrailingHighSurrogateUntilItsPartnerArrives) {
    unicode_to_utf8_engine engine(u"A\xD83D");
    engine.translate();
    EXPECT_EQ(engine.target(), "A");
    EXPECT_EQ(engine.source(), std::u16string(1, u'\xD83D'));
    engine.source() += u'\xDE00';
    engine.translate();
    EXPECT_EQ(engine.target(), bytes({0x41, 0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_TRUE(engine.source().empty());
}

TEST(UnicodeToUtf8Engine, FlushReplacesEveryLeftoverUnit) {
    unicode_to_utf8_engine engine;
    engine.source() = u"\xD800\xD800\xDBFF";  // as if left by a caller, not by translate
    engine.flush();
    EXPECT_EQ(engine.target(), "???");
    EXPECT_TRUE(engine.source().empty());
    engine.flush();
    EXPECT_EQ(engine.target(), "???");
}

TEST(UnicodeToUtf8Engine, ClearEmptiesBothBuffers) {
    unicode_to_utf8_engine engine(u"x\xD800");
    engine.translate();
    engine.clear();
    EXPECT_TRUE(engine.source().empty());
    EXPECT_TRUE(engine.target().empty());
    engine.source() = u"ok";
    engine.translate();
    EXPECT_EQ(engine.target(), "ok");
}

TEST(UnicodeToUtf8Engine, UsableThroughItsBase) {
    std::unique_ptr<babel::bbl_translate_engine<std::u16string, std::string>> engine =
        std::make_unique<unicode_to_utf8_engine>(u"\u00E9\xDC00");
    engine->translate();
    engine->flush();
    EXPECT_EQ(engine->target(), bytes({0xC3, 0xA9, 0xED, 0xB0, 0x80}));
    std::unique_ptr<babel::bbl_smart_base> base = std::move(engine);  // deleted through the base
}

// Feeding a text in pieces, pairs cut between pieces included, gives the whole text's bytes.
TEST(UnicodeToUtf8Engine, FeedingPiecesEqualsConvertingTheWhole) {
    std::mt19937 rng(3);
    for (int round = 0; round < 100; ++round) {
        const std::u16string text = textsamples::random_text(rng, 2000, round % 2 == 0);
        unicode_to_utf8_engine engine;
        size_t at = 0;
        while (at < text.size()) {
            const size_t piece = std::min(text.size() - at, std::uniform_int_distribution<size_t>(0, 70)(rng));
            if (round % 3 == 0) {
                engine.source().append(text, at, piece);
                engine.translate();
            } else {
                engine.feed(std::u16string_view(text).substr(at, piece));
            }
            at += piece;
        }
        engine.flush();
        ASSERT_EQ(engine.target(), unicode_to_utf8(text)) << "round " << round;
    }
}

}  // namespace
