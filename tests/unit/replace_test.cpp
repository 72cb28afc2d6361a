#include "common/replace.hpp"

#include <gtest/gtest.h>

TEST(ReplaceAll, Table) {
    struct Case {
        const char* text;
        const char* pattern;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\work\\proj\\a", "C:\\work\\proj", "Z:", "Z:\\a"},
        {"aaaa", "aa", "b", "bb"},    // no overlap
        {"aaa", "a", "aa", "aaaaaa"}, // the replacement is never searched again
        {"abcabc", "abc", "", ""},
        {"x", "", "y", "x"},                  // an empty pattern matches nothing
        {"Proj proj", "proj", "P", "Proj P"}, // case-sensitive
        {"C:/work", "C:\\work", "Z:", "C:/work"},
        {"", "a", "b", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replace_all(c.text, c.pattern, c.replacement), c.expected) << c.text;
    }
}
