// The command line's checks that look at the directories.
#include "entry/command_line.hpp"
#include "sim/sim_fixture.hpp"

namespace {

Strings with(std::string scratch, std::string profile = "agent") {
    return {"--project", "C:\\Work\\Proj",   "--scratch", std::move(scratch),
            "--profile", std::move(profile), "--network", "deny",
            "--",        "tool.exe"};
}

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
        {with("C:\\Work\\Proj", "bad/name"), "invalid AppContainer profile name"},
        {{"--project", "C:\\Work\\Proj", "--network", "deny", "--", "t"}, "missing --scratch"},
        {{"--project", "C:\\Work\\Proj", "--scratch", ".", "--network", "deny", "--", "t"},
         "missing --profile"},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto request = parse_command_line(arguments);
        EXPECT_EQ(request ? "(request)" : request.error().message, expected)
            << ::testing::PrintToString(arguments);
    }
    EXPECT_EQ(journal_without({"CreateFileW", "GetFullPathNameW", "CloseHandle",
                               "GetFinalPathNameByHandleW", "GetFileInformationByHandle"}),
              Strings{});
    EXPECT_EQ(sim::open_handles(), Strings{});
}

} // namespace
