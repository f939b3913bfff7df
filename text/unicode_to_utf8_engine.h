// UTF-16 to UTF-8 conversion.
//
// Every code point is encoded on its own: a high surrogate followed by a low surrogate is one
// supplementary code point (four bytes); any other surrogate, paired or not, is encoded as the
// three-byte form of its own value, so nothing is dropped or replaced. U+0000 becomes a 0 byte
// like any other code point. The only unit translate() cannot convert is a high surrogate at
// the very end of the source buffer, because the unit that would complete it may still come;
// flush() turns such a leftover into "?".
#pragma once

#include <concepts>
#include <string>
#include <string_view>

#include "text/bbl_translate_engine.h"

namespace babel {

class unicode_to_utf8_engine final : public bbl_translate_engine<std::u16string, std::string> {
public:
    unicode_to_utf8_engine() = default;
    explicit unicode_to_utf8_engine(std::u16string source)
        : bbl_translate_engine(std::move(source)) {}

    void translate() override;
    // Appends "?" for every unit left in the source buffer, then empties it.
    void flush() override;

    // Same result as source().append(more) followed by translate(), without copying `more`
    // into the source buffer when nothing is pending there.
    void feed(std::u16string_view more);

private:
    // Converts text to the end of the target buffer; returns how many units were converted
    // (all of them, or all but a trailing high surrogate).
    size_t convert(std::u16string_view text);
};

// Converts a whole UTF-16 text; a trailing high surrogate comes out as "?".
std::string unicode_to_utf8(std::u16string_view text);

// The same for a wide string where wchar_t is a UTF-16 unit (Windows paths and messages).
// Where wchar_t is wider a wide string holds UTF-32, so there is no such form.
template <class Wide>
    requires std::same_as<Wide, std::wstring> && (sizeof(wchar_t) == 2)
std::string unicode_to_utf8(const Wide& text) {
    return unicode_to_utf8(std::u16string(text.begin(), text.end()));
}

}  // namespace babel
