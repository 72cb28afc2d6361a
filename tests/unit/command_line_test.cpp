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
    const std::string unknown = "unknown sandbox option: ";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, usage},
        {{"--network", "deny"}, usage},
        {{"--network", "deny", "--"}, usage},
        {{"--", "tool.exe"}, network},
        {{"--network", "Deny", "--", "tool.exe"}, network},
        {{"--Project", "p", "--", "tool.exe"}, unknown + "--Project"},
        {{"--project=p", "x", "--", "tool.exe"}, unknown + "--project=p"},
        {{"stray", "--", "tool.exe"}, "missing value for stray"},
        {{"--profile", "--", "tool.exe"}, "missing value for --profile"},
        {{"--project", "--scratch", "--", "tool.exe"}, network},
        {{"--network", "deny", "--", "tool.exe"}, "missing --project"},
        // The first failure ends parsing; the last value of an option wins; the first "--" ends
        // the options.
        {{"-x", "1", "--bad", "--", "t"}, unknown + "-x"},
        {{"--network", "allow", "--network", "deny", "--", "t"}, "missing --project"},
        {{"--network", "deny", "--network", "allow", "--", "t"}, network},
        {{"--", "--", "--project"}, network},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(outcome(arguments), expected) << ::testing::PrintToString(arguments);
    }
}

TEST(ProfileName, Table) {
    const std::string allowed64(64, 'a');
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"norix agent_1.0-xzAZ09", true},
        {allowed64, true},
        {allowed64 + "a", false},
        {"a/b", false},
        {"a,b", false},
        {"a@b", false},
        {"a[b", false},
        {"a`b", false},
        {"a{b", false},
        {"caf\xC3\xA9", false},
        {"tab\there", false},
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(is_valid_profile_name(name), valid) << name;
    }
}

} // namespace
