// The child's command line: quoting, and the C runtime's splitting that it must survive.
#include "common/split_command_line.hpp"
#include "run/child_command_line.hpp"
#include "unit/command_line_generator.hpp"
#include "unit/units.hpp"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> split_utf8(std::string_view line) {
    std::vector<std::string> elements;
    for (const auto& element : split_command_line(to_wide(line))) {
        elements.push_back(to_utf8(element));
    }
    return elements;
}

// The round trip below covers the rules; these show them.
TEST(QuoteArgument, QuotesOnlyWhatNeedsItAndDoublesTheBackslashesBeforeAQuote) {
    EXPECT_EQ(quote_argument("C:\\dir\\"), "C:\\dir\\");
    // A run of backslashes stays before a blank, doubles and escapes a quote, doubles at the end.
    EXPECT_EQ(quote_argument("a\\\\ b\\\\\"c\\\\"), "\"a\\\\ b\\\\\\\\\\\"c\\\\\\\\\"");
    EXPECT_EQ(quote_argument(std::string_view("a b\\", 3)), "\"a b\""); // nothing past its end
    EXPECT_EQ(build_command_line("C:\\Program Files\\t.exe", {"", "a b", "c"}),
              "\"C:\\Program Files\\t.exe\" \"\" \"a b\" c");
}

TEST(QuoteArgument, QuotesEveryWhiteSpaceCharacterAndNothingElse) {
    for (const unsigned c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A,
                             0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
        const std::string text = to_utf8(units({'a', c}));
        EXPECT_EQ(quote_argument(text), "\"" + text + "\"") << c;
    }
    for (const unsigned c : {0x0E, 0x86, 0x180E, 0x200B, 0x202A}) {
        const std::string text = to_utf8(units({'a', c}));
        EXPECT_EQ(quote_argument(text), text) << c;
    }
}

TEST(SplitCommandLine, CRuntimeRules) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"p  a\t\tb  ", {"p", "a", "b"}}, // blanks: spaces and tabs
        {"p \"a\"\"", {"p", "a\""}},      // "" that ends the line
    };
    for (const auto& [line, elements] : cases) {
        EXPECT_EQ(split_utf8(line), elements) << line;
    }
    // Nothing past the end of the text is read: a blank or a backslash there.
    for (const char* line : {"p a ", "p a\\"}) {
        const WideString text = to_wide(line);
        EXPECT_EQ(split_command_line(WideStringView(text).substr(0, 3)),
                  (std::vector{to_wide("p"), to_wide("a")}))
            << line;
    }
}

TEST(BuildCommandLine, RoundTripsThroughTheCRuntimeSplit) {
    const std::string programs[] = {"C:\\Windows\\System32\\cmd.exe", "Z:\\tool.exe",
                                    "C:\\Program Files\\t\xC3\xA9st\\tool.exe", "tool"};
    ArgumentGenerator generator(20240611);
    for (int round = 0; round < 2000; ++round) {
        const std::string& program = programs[round % std::size(programs)];
        const auto arguments = generator.arguments();
        std::vector<std::string> expected{program};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        const std::string line = build_command_line(program, arguments);
        ASSERT_EQ(split_utf8(line), expected) << line;
    }
}

} // namespace
