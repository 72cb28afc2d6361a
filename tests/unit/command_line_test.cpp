// The parts of the command line that decide before any directory is looked at.
#include "entry/command_line.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ParseCommandLine, FailuresBeforeTheDirectories) {
    const std::string network = "native processes cannot receive direct network access";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--network", "deny", "--"}, std::string(USAGE)},
        {{"--profile", "--", "tool.exe"}, "missing value for --profile"},
        {{"stray", "--", "t"}, "missing value for stray"}, // before the name is looked at
        {{"--Project", "x", "--", "t"}, "unknown sandbox option: --Project"},
        {{"--project=x", "y", "--", "t"}, "unknown sandbox option: --project=x"},
        // The last value of an option wins; the first "--" ends the options.
        {{"--network", "allow", "--network", "deny", "--", "t"}, "missing --project"},
        {{"--network", "deny", "--network", "Deny", "--", "t"}, network},
        {{"--", "--", "--project"}, network},
        {{"--project", "--scratch", "--", "t"}, network}, // a value may look like a name
    };
    for (const auto& [arguments, expected] : cases) {
        const auto request = parse_command_line(arguments);
        EXPECT_EQ(request ? "(request)" : request.error().message, expected)
            << ::testing::PrintToString(arguments);
    }
}

TEST(ProfileName, Table) {
    const std::string allowed64(64, 'a');
    const std::pair<std::string, bool> cases[] = {
        {"norix agent_1.0-xzAZ09", true},
        {allowed64, true},
        {allowed64 + "a", false},
        {"a/b", false},
        {"\xC3\xA9", false},
    };
    for (const auto& [name, valid] : cases) {
        EXPECT_EQ(is_valid_profile_name(name), valid) << name;
    }
}

} // namespace
