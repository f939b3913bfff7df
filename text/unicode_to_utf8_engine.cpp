#include "text/unicode_to_utf8_engine.h"

#include <algorithm>

#include "text/utf8_kernels.h"

namespace babel {
namespace {

// Converted text is gathered in blocks on the stack and appended to the target a block at a
// time; a code point is never split between two blocks.
constexpr size_t kBlockBytes = 4096;

// Written by flush() for every unit it disposes of.
constexpr std::string_view kReplacement = "?";

}  // namespace

size_t unicode_to_utf8_engine::convert(std::u16string_view text) {
    const detail::encode_fn encode = detail::best_kernel();
    const char16_t* s = text.data();
    const size_t n = text.size();

    // Each unit but a trailing high surrogate yields at least one byte. Growing geometrically
    // keeps many small calls on one engine from reallocating every time.
    const size_t least = target_.size() + n;
    if (least > target_.capacity())
        target_.reserve(std::max(least, 2 * target_.capacity()));

    char block[kBlockBytes + detail::kEncodeSlack];
    size_t i = 0;
    while (i < n) {
        const size_t bytes = encode(s, n, i, block, kBlockBytes);
        target_.append(block, bytes);
        if (bytes < kBlockBytes)
            break;  // the kernel stopped at the end of the text or before its tail
    }
    return i;
}

void unicode_to_utf8_engine::translate() {
    const size_t done = convert(source_);
    source_.erase(0, done);
}

void unicode_to_utf8_engine::feed(std::u16string_view more) {
    if (!source_.empty()) {
        source_.append(more);
        translate();
        return;
    }
    const size_t done = convert(more);
    source_.assign(more.substr(done));
}

void unicode_to_utf8_engine::flush() {
    for (size_t k = 0; k < source_.size(); ++k)
        target_.append(kReplacement);
    source_.clear();
}

std::string unicode_to_utf8(std::u16string_view text) {
    unicode_to_utf8_engine engine;
    engine.feed(text);
    engine.flush();
    return std::move(engine.target());
}

}  // namespace babel
