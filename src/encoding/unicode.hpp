// UTF-8 and UTF-16, strictly: a conversion says where its input stops being valid, and puts
// U+FFFD in place of each byte or unit that starts no character. The units of UTF-16 are WCHAR:
// wchar_t in the Windows build, char16_t in the simulated Windows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace unicode {

inline constexpr char32_t REPLACEMENT = 0xFFFD;

// One character read from a text: its scalar value and the bytes or units it takes. What is not
// valid there is no value and takes one.
struct Decoded {
    std::optional<char32_t> scalar;
    std::size_t length = 1;
};

// The UTF-8 sequence at text[at]: invalid when its lead byte starts none, when it is cut short,
// overlong, a surrogate or above U+10FFFF.
Decoded decode_utf8(std::string_view text, std::size_t at);
void append_utf8(std::string& out, char32_t scalar);

// The UTF-16 at text[at]: an unpaired surrogate is invalid.
template <class Unit> Decoded decode_utf16(std::basic_string_view<Unit> text, std::size_t at) {
    const char32_t unit = static_cast<char16_t>(text[at]);
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size()) {
        const char32_t next = static_cast<char16_t>(text[at + 1]);
        if (next >= 0xDC00 && next <= 0xDFFF) {
            return {0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), 2};
        }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return {};
    }
    return {unit, 1};
}

template <class Unit> void append_utf16(std::basic_string<Unit>& out, char32_t scalar) {
    if (scalar >= 0x10000) {
        scalar -= 0x10000;
        out.push_back(static_cast<Unit>(0xD800 + (scalar >> 10)));
        out.push_back(static_cast<Unit>(0xDC00 + (scalar & 0x3FF)));
    } else {
        out.push_back(static_cast<Unit>(scalar));
    }
}

// A converted text, and the position in the input of its first invalid byte or unit.
template <class Text> struct Converted {
    Text text;
    std::optional<std::size_t> first_invalid;
};

namespace detail {

// The texts converted are mostly ASCII (paths, variables, arguments), which stands for itself in
// both forms: the leading ASCII run is copied in one go, and only the rest is decoded.
template <class To, class From> std::size_t copy_ascii_run(To& out, From text) {
    const auto end = std::ranges::find_if(
        text, [](auto unit) { return static_cast<std::uint32_t>(unit) >= 0x80; });
    out.assign(text.begin(), end);
    return static_cast<std::size_t>(end - text.begin());
}

template <class To, class From, class Decode, class Append>
Converted<To> convert(From text, Decode decode, Append append) {
    Converted<To> out;
    out.text.reserve(text.size());
    for (std::size_t at = copy_ascii_run(out.text, text); at < text.size();) {
        const Decoded next = decode(text, at);
        if (!next.scalar && !out.first_invalid) {
            out.first_invalid = at;
        }
        append(out.text, next.scalar.value_or(REPLACEMENT));
        at += next.length;
    }
    return out;
}

} // namespace detail

template <class Unit> Converted<std::basic_string<Unit>> utf16_from_utf8(std::string_view text) {
    return detail::convert<std::basic_string<Unit>>(text, decode_utf8, append_utf16<Unit>);
}

template <class Unit> Converted<std::string> utf8_from_utf16(std::basic_string_view<Unit> text) {
    return detail::convert<std::string>(text, decode_utf16<Unit>, append_utf8);
}

} // namespace unicode
