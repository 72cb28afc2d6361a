#include "entry/split_command_line.hpp"
#include "run/child_command_line.hpp"
#include "unit/command_line_generator.hpp"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> split_utf8(std::string_view line) {
    std::vector<std::string> elements;
    for (const auto& element : split_command_line(to_wide(line))) {
        elements.push_back(to_utf8(element));
    }
    return elements;
}

} // namespace

TEST(QuoteArgument, Table) {
    struct Case {
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"hello", "hello"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"\\\\server\\share x", "\"\\\\server\\share x\""},
        {"a\tb", "\"a\tb\""},
        {"a\xE3\x80\x80"
         "b",
         "\"a\xE3\x80\x80"
         "b\""},                                    // U+3000
        {"a\xC2\xA0", "\"a\xC2\xA0\""},             // U+00A0
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, // non-ASCII alone needs no quotes
        {"a\\\\ b\\\\", "\"a\\\\ b\\\\\\\\\""},     // inner run kept, final run doubled
        {"\"", "\"\\\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quote_argument(c.input), c.output) << c.input;
    }
}

TEST(BuildCommandLine, JoinsWithSingleSpaces) {
    EXPECT_EQ(build_command_line("C:\\Program Files\\tool.exe", {}),
              "\"C:\\Program Files\\tool.exe\"");
    EXPECT_EQ(build_command_line("Z:\\tool.exe", {"", "a b", "c"}), "Z:\\tool.exe \"\" \"a b\" c");
}

TEST(SplitCommandLine, CRuntimeRules) {
    struct Case {
        const char* line;
        std::vector<std::string> elements;
    };
    const Case cases[] = {
        {"tool.exe", {"tool.exe"}},
        {"\"C:\\my dir\\t.exe\" x", {"C:\\my dir\\t.exe", "x"}},
        {"C:\\a\\\\b\\ x", {"C:\\a\\\\b\\", "x"}}, // no backslash rules in the name
        {"a\"b c\"d e", {"ab cd", "e"}},           // where quotes toggle quoting
        {"p  a\t\tb  ", {"p", "a", "b"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},      // 2n+1 backslashes: n and a quote
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},    // 2n backslashes: n, the quote toggles
        {"p a\\b\\", {"p", "a\\b\\"}},          // other backslashes are literal
        {"p \"a\"\"b\" c", {"p", "a\"b", "c"}}, // "" inside quotes
        {"p \"\"", {"p", ""}},
        {"p \"a b", {"p", "a b"}}, // unterminated quote runs to the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split_utf8(c.line), c.elements) << c.line;
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
