// Which strings unicode_to_utf8 takes, checked at compile time. Part of the Linux text tests,
// and compiled on its own by scripts/build-windows, where wchar_t is 16-bit and std::wstring
// holds UTF-16 text.
#include <concepts>
#include <string>
#include <string_view>

#include "text/unicode_to_utf8_engine.h"

namespace {

template <class Text>
concept Converts = requires(const Text& text) {
    { babel::unicode_to_utf8(text) } -> std::same_as<std::string>;
};

// A call that is ambiguous or has no match would make these false.
static_assert(Converts<std::u16string>);
static_assert(Converts<std::u16string_view>);
static_assert(Converts<const char16_t*>);
static_assert(Converts<char16_t[3]>);
// A wide string only where its units are UTF-16; elsewhere it holds UTF-32.
static_assert(Converts<std::wstring> == (sizeof(wchar_t) == 2));
static_assert(!Converts<std::string>);
static_assert(!Converts<const wchar_t*>);

}  // namespace

// Compiles the wide form's body where it exists (outside the unnamed namespace, so that an
// instantiation nothing calls is not reported as unused).
namespace wide_string_check {

template <class Wide>
std::string ConvertWide(const Wide& text) {
    if constexpr (Converts<Wide>) {
        return babel::unicode_to_utf8(text);
    } else {
        return {};
    }
}
template std::string ConvertWide(const std::wstring&);

}  // namespace wide_string_check
