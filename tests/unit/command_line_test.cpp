// The parts of the command line that decide before any directory is looked at.
#include "entry/command_line.hpp"

#include <gtest/gtest.h>

namespace {

std::string outcome(const std::vector<std::string>& arguments) {
    const auto request = parse_command_line(arguments);
    return request ? std::string("(request)") : request.error().message;
}

TEST(ParseCommandLine, FailuresBeforeTheDirectories) {
    const std::string usage(USAGE);
    const std::string network = "native processes cannot receive direct network access";
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{}, usage},
        {{"--project", "p", "--scratch", "s", "--profile", "x", "--network", "deny"}, usage},
        {{"--project", "p", "--scratch", "s", "--profile", "x", "--network", "deny", "--"}, usage},
        {{"--", "tool.exe"}, network},
        {{"--network", "allow", "--", "tool.exe"}, network},
        {{"--network", "Deny", "--", "tool.exe"}, network},
        {{"--Project", "p", "--", "tool.exe"}, "unknown sandbox option: --Project"},
        {{"--project=p", "x", "--", "tool.exe"}, "unknown sandbox option: --project=p"},
        {{"stray", "--", "tool.exe"}, "missing value for stray"},
        {{"stray", "value", "--", "tool.exe"}, "unknown sandbox option: stray"},
        {{"--profile", "--", "tool.exe"}, "missing value for --profile"},
        {{"--project", "--scratch", "--", "tool.exe"}, network},
        {{"--network", "deny", "--", "tool.exe"}, "missing --project"},
        // The first failure ends parsing: nothing after it is looked at.
        {{"-x", "1", "--bad", "--", "t"}, "unknown sandbox option: -x"},
        // Only the first "--" separates.
        {{"--", "--", "--project"}, network},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcome(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
    }
}

TEST(ParseCommandLine, LastValueOfAnOptionWins) {
    EXPECT_EQ(outcome({"--network", "allow", "--network", "deny", "--", "t"}), "missing --project");
    EXPECT_EQ(outcome({"--network", "deny", "--network", "allow", "--", "t"}),
              "native processes cannot receive direct network access");
}

TEST(ProfileName, Table) {
    const std::string allowed64(64, 'a');
    const std::pair<std::string, bool> cases[] = {
        {"", true},           {"norix agent_1.0-x", true},
        {allowed64, true},    {allowed64 + "a", false},
        {"a/b", false},       {"a:b", false},
        {"a\\b", false},      {"caf\xC3\xA9", false},
        {"tab\there", false},
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(is_valid_profile_name(name), valid) << name;
    }
}

} // namespace
