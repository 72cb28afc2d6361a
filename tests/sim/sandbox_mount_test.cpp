// The command line's checks that look at the directories.
#include "entry/command_line.hpp"
#include "sim/sim_fixture.hpp"

namespace {

Strings with(std::string scratch, std::string profile = "agent", std::string timeout = "1") {
    return {"--project", "C:\\Work\\Proj",
            "--scratch", std::move(scratch),
            "--profile", std::move(profile),
            "--timeout", std::move(timeout),
            "--network", "deny",
            "--",        "tool.exe"};
}

const std::string RANGE = " (a whole number of seconds from 1 to 4294967)";

TEST_F(SimulatedWindows, SandboxMountChecksFailInOrderAndOnlyRead) {
    sim::make_directory("C:\\Work\\Proj");
    sim::make_file("C:\\Work\\notes.txt");
    // "\xED\xA0\x80" makes the simulated name hold the unpaired surrogate U+D800.
    sim::make_directory("C:\\Work\\Bad\xED\xA0\x80");
    sim::make_symlink("C:\\Work\\Link", "C:\\Work\\Bad\xED\xA0\x80");
    const std::pair<Strings, std::string> cases[] = {
        {with("C:\\Work\\notes.txt"),
         "sandbox mount is not a directory: \\\\?\\C:\\Work\\notes.txt"},
        {with("\\\\?\\C:\\Work\\Link"), "sandbox mount path is not valid Unicode: C:\\Work\\Link"},
        {with("C:\\Work\\Proj", "bad/name", "0"), "invalid AppContainer profile name"},
        // Whole seconds whose milliseconds fit below INFINITE.
        {with("C:\\Work\\Proj", "agent", "4294967"), "(request)"},
        {with("C:\\Work\\Proj", "agent", "4294968"),
         "invalid value for --timeout: 4294968" + RANGE},
        {with("C:\\Work\\Proj", "agent", "0"), "invalid value for --timeout: 0" + RANGE},
        {with("C:\\Work\\Proj", "agent", "+5"), "invalid value for --timeout: +5" + RANGE},
        {with("C:\\Work\\Proj", "agent", ""), "invalid value for --timeout: " + RANGE},
        {{"--project", "C:\\Work\\Proj", "--network", "deny", "--", "t"}, "missing --scratch"},
        {{"--project", "C:\\Work\\Proj", "--scratch", ".", "--network", "deny", "--", "t"},
         "missing --profile"},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto request = parse_command_line(arguments);
        EXPECT_EQ(request ? "(request)" : request.error().message, expected)
            << ::testing::PrintToString(arguments);
    }
    EXPECT_EQ(parse_command_line(with("C:\\Work\\Proj", "agent", "4294967"))->timeout_milliseconds,
              4294967000U);
    EXPECT_EQ(journal_without({"CreateFileW", "GetFullPathNameW", "CloseHandle",
                               "GetFinalPathNameByHandleW", "GetFileInformationByHandle"}),
              Strings{});
    EXPECT_EQ(sim::open_handles(), Strings{});
}

} // namespace
