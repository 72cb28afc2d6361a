#include "common/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Text, RoundTripsEveryPlane) {
    const std::string samples[] = {"", "plain", "caf\xC3\xA9", "\xE3\x80\x80", "\xF0\x9F\x98\x80x"};
    for (const auto& sample : samples) {
        EXPECT_EQ(to_utf8(to_wide(sample)), sample);
        EXPECT_EQ(to_utf8_exact(to_wide(sample)), sample);
    }
    EXPECT_EQ(to_wide("\xF0\x9F\x98\x80").size(), 2U); // a surrogate pair
}

TEST(Text, UnpairedSurrogates) {
    const WCHAR lone_high[] = {WCHAR('a'), static_cast<WCHAR>(0xD83D), WCHAR('b')};
    const WCHAR lone_low[] = {static_cast<WCHAR>(0xDE00)};
    const WCHAR high_at_end[] = {WCHAR('a'), static_cast<WCHAR>(0xD83D)};
    EXPECT_EQ(to_utf8(WideStringView(lone_high, 3)), "a\xEF\xBF\xBD"
                                                     "b");
    EXPECT_EQ(to_utf8(WideStringView(lone_low, 1)), "\xEF\xBF\xBD");
    EXPECT_EQ(to_utf8(WideStringView(high_at_end, 2)), "a\xEF\xBF\xBD");
    EXPECT_FALSE(to_utf8_exact(WideStringView(lone_high, 3)));
    EXPECT_FALSE(to_utf8_exact(WideStringView(lone_low, 1)));
    EXPECT_FALSE(to_utf8_exact(WideStringView(high_at_end, 2)));
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(to_utf8(to_wide("a\xFF"
                              "b")),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(to_utf8(to_wide("\xC3")), "\xEF\xBF\xBD");                      // cut short
    EXPECT_EQ(to_utf8(to_wide("\xC0\xAF")), "\xEF\xBF\xBD\xEF\xBF\xBD");      // overlong
    EXPECT_EQ(to_utf8(to_wide("\xED\xA0\x80")).substr(0, 3), "\xEF\xBF\xBD"); // encoded surrogate
}

} // namespace
