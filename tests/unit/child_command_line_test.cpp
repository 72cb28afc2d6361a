// The child's command line: quoting, and the C runtime's splitting that it must survive.
#include "common/split_command_line.hpp"
#include "run/child_command_line.hpp"
#include "unit/units.hpp"

#include <gtest/gtest.h>

namespace {

// The rules; the round trip through a splitter we did not write is command_line_wine_test.cpp.
TEST(QuoteArgument, QuotesOnlyWhatNeedsItAndDoublesTheBackslashesBeforeAQuote) {
    EXPECT_EQ(quote_argument("C:\\dir\\"), "C:\\dir\\");
    // A run of backslashes stays before a blank, doubles and escapes a quote, doubles at the end.
    EXPECT_EQ(quote_argument("a\\\\ b\\\\\"c\\\\"), "\"a\\\\ b\\\\\\\\\\\"c\\\\\\\\\"");
    EXPECT_EQ(quote_argument(std::string_view("a b\\", 3)), "\"a b\""); // nothing past its end
}

TEST(QuoteArgument, QuotesEveryWhiteSpaceCharacter) {
    for (const unsigned c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A,
                             0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
        const std::string text = to_utf8(units({'a', c}));
        EXPECT_EQ(quote_argument(text), "\"" + text + "\"") << c;
    }
}

TEST(SplitCommandLine, CRuntimeRules) {
    using Elements = std::vector<WideString>;
    // Blanks are spaces and tabs; a "" that ends the line is a quote.
    EXPECT_EQ(split_command_line(to_wide("p  a\t\tb  ")),
              (Elements{to_wide("p"), to_wide("a"), to_wide("b")}));
    EXPECT_EQ(split_command_line(to_wide("p \"a\"\"")), (Elements{to_wide("p"), to_wide("a\"")}));
    // Nothing past the end of the text is read: a blank or a backslash there.
    for (const char* line : {"p a ", "p a\\"}) {
        const WideString text = to_wide(line);
        EXPECT_EQ(split_command_line(WideStringView(text).substr(0, 3)),
                  (Elements{to_wide("p"), to_wide("a")}))
            << line;
    }
}

} // namespace
