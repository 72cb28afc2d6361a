// The command line's checks that look at the directories.
#include "entry/command_line.hpp"
#include "sim/sim_fixture.hpp"

namespace {

class SandboxMount : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_directory("C:\\Work\\Proj");
        sim::make_directory("C:\\Work\\Scratch");
        sim::make_file("C:\\Work\\notes.txt");
        sim::make_directory("C:\\Locked");
        sim::deny_access("C:\\Locked");
        sim::set_current_directory("C:\\Work\\Proj");
        // "\xED\xA0\x80" makes the simulated name hold the unpaired surrogate U+D800.
        sim::make_directory("C:\\Work\\Bad\xED\xA0\x80");
        sim::make_symlink("C:\\Work\\Link", "C:\\Work\\Bad\xED\xA0\x80");
    }
};

Strings with(std::string project, std::string scratch, std::string profile = "agent") {
    return {"--project", std::move(project), "--scratch", std::move(scratch),
            "--profile", std::move(profile), "--network", "deny",
            "--",        "tool.exe",         "a",         "--project"};
}

std::string outcome(const Strings& arguments) {
    const auto request = parse_command_line(arguments);
    return request ? "project " + to_utf8(request->project) + " scratch " +
                         to_utf8(request->scratch) + " profile " + request->profile + " program " +
                         request->program + " " + ::testing::PrintToString(request->arguments)
                   : request.error().message;
}

TEST_F(SandboxMount, RequestHoldsCanonicalPathsOrTheFirstFailure) {
    const std::pair<Strings, std::string> cases[] = {
        {with(".", "c:\\work\\scratch\\", "my agent"),
         "project \\\\?\\C:\\Work\\Proj scratch \\\\?\\C:\\Work\\Scratch profile my agent program "
         "tool.exe { \"a\", \"--project\" }"},
        {with("C:\\Work\\Nope", "C:\\Work\\Scratch"),
         "cannot resolve C:\\Work\\Nope: The system cannot find the file specified. (os error 2)"},
        {with("C:\\Locked", "C:\\Work\\Scratch"),
         "cannot resolve C:\\Locked: Access is denied. (os error 5)"},
        {with("..\\notes.txt", "C:\\Work\\Scratch"),
         "sandbox mount is not a directory: \\\\?\\C:\\Work\\notes.txt"},
        // The scratch directory is checked before the profile name.
        {with(".", "missing", "bad/name"),
         "cannot resolve missing: The system cannot find the file specified. (os error 2)"},
        {with(".", "C:\\Work\\Scratch", "bad/name"), "invalid AppContainer profile name"},
        {with("C:\\Work\\Proj", "\\\\?\\C:\\Work\\Link"),
         "sandbox mount path is not valid Unicode: C:\\Work\\Link"},
        {{"--project", ".", "--network", "deny", "--", "t"}, "missing --scratch"},
        {{"--project", ".", "--scratch", ".", "--network", "deny", "--", "t"}, "missing --profile"},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(outcome(arguments), expected) << ::testing::PrintToString(arguments);
    }
    // The checks only read the file system, and close what they open.
    for (const auto& call :
         journal_without({"CreateFileW", "GetFullPathNameW", "CloseHandle",
                          "GetFinalPathNameByHandleW", "GetFileInformationByHandle"})) {
        ADD_FAILURE() << call;
    }
    EXPECT_EQ(sim::open_handles(), Strings{});
    sim::set_current_directory("C:\\Work\\Bad\xED\xA0\x80");
    EXPECT_EQ(outcome(with(".", "C:\\Work\\Scratch")),
              "sandbox mount path is not valid Unicode: .");
}

TEST_F(SandboxMount, AttributeQueryFailureMeansNotADirectory) {
    sim::inject(fault_on("GetFileInformationByHandle", 0, 5));
    EXPECT_EQ(resolve_sandbox_mount(to_wide("C:\\Work\\Proj")).error().message,
              "sandbox mount is not a directory: \\\\?\\C:\\Work\\Proj");
}

} // namespace
