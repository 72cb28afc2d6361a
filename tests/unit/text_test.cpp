// UTF-8 and UTF-16 at the edges of each encoding length and of the surrogates.
#include "unit/units.hpp"

#include <gtest/gtest.h>

namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

TEST(Text, ValidTextRoundTripsInvalidTextIsReplaced) {
    const std::pair<std::string, WideString> cases[] = {
        {"\xC2\x80", units({0x80})},
        {"\xE0\xA0\x80", units({0x800})},
        {"\xEE\x80\x80", units({0xE000})},
        {"\xF0\x90\x80\x80", units({0xD800, 0xDC00})},
        {"\xF4\x8F\xBF\xBF", units({0xDBFF, 0xDFFF})},
    };
    for (const auto& [utf8, utf16] : cases) {
        EXPECT_EQ(to_wide(utf8), utf16) << utf8;
        EXPECT_EQ(to_utf8(utf16), utf8);
    }
    // Each UTF-8 byte that starts no character and each unpaired surrogate becomes U+FFFD; the
    // exact conversion refuses the latter.
    const std::pair<std::string, std::string> bytes[] = {
        {"\xED\xA0\x80", R + R + R},                // encoded surrogate 0xD800
        {"\xF4\x90\x80\x80", R + R + R + R},        // above 0x10FFFF
        {"\xF8\x88\x80\x80\x80", R + R + R + R + R} // no such length
    };
    for (const auto& [input, expected] : bytes) {
        EXPECT_EQ(to_utf8(to_wide(input)), expected) << input;
    }
    const std::pair<WideString, std::string> units16[] = {
        {units({0xD800, 0xE000}), R + "\xEE\x80\x80"},
        {units({0xDFFF, 0xDC00, 0xDC00, 0xDFFF}), R + R + R + R},
    };
    for (const auto& [text, expected] : units16) {
        EXPECT_EQ(to_utf8(text), expected) << expected;
        EXPECT_EQ(to_utf8_exact(text), std::nullopt) << expected;
    }
    const WideString pair = units({0xD800, 0xDC00}); // a view that ends inside a pair
    EXPECT_EQ(to_utf8(WideStringView(pair).substr(0, 1)), R);
}

} // namespace
