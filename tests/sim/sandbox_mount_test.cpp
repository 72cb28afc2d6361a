#include "entry/command_line.hpp"
#include "sim_fixture.hpp"

namespace {

class SandboxMount : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_directory("C:\\Work\\Proj");
        sim::make_directory("C:\\Work\\Scratch");
        sim::make_file("C:\\Work\\notes.txt");
        sim::set_current_directory("C:\\Work\\Proj");
    }

    static std::vector<std::string> with(std::string project, std::string scratch,
                                         std::string profile = "agent") {
        return {"--project", std::move(project), "--scratch", std::move(scratch),
                "--profile", std::move(profile), "--network", "deny",
                "--",        "tool.exe",         "a",         "--project"};
    }
};

std::string outcome(const std::vector<std::string>& arguments) {
    const auto request = parse_command_line(arguments);
    return request ? std::string("(request)") : request.error().message;
}

TEST_F(SandboxMount, ValidRequestHoldsCanonicalPaths) {
    const auto request = parse_command_line(with(".", "c:\\work\\scratch\\", "my agent"));
    ASSERT_TRUE(request) << request.error().message;
    EXPECT_EQ(to_utf8(request->project), "\\\\?\\C:\\Work\\Proj");
    EXPECT_EQ(to_utf8(request->scratch), "\\\\?\\C:\\Work\\Scratch");
    EXPECT_EQ(request->profile, "my agent");
    EXPECT_EQ(request->program, "tool.exe");
    EXPECT_EQ(request->arguments, (std::vector<std::string>{"a", "--project"}));
}

TEST_F(SandboxMount, FailuresTable) {
    sim::make_directory("C:\\Locked");
    sim::deny_access("C:\\Locked");
    // "\xED\xA0\x80" makes the simulated name hold the unpaired surrogate U+D800.
    sim::make_directory("C:\\Work\\Bad\xED\xA0\x80");
    sim::make_symlink("C:\\Work\\Link", "C:\\Work\\Bad\xED\xA0\x80");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {with("C:\\Work\\Nope", "C:\\Work\\Scratch"),
         "cannot resolve C:\\Work\\Nope: The system cannot find the file specified. (os error 2)"},
        {with("C:\\Work\\Nope\\x", "C:\\Work\\Scratch"),
         "cannot resolve C:\\Work\\Nope\\x: The system cannot find the path specified. (os error "
         "3)"},
        {with("C:\\Locked", "C:\\Work\\Scratch"),
         "cannot resolve C:\\Locked: Access is denied. (os error 5)"},
        {with("..\\notes.txt", "C:\\Work\\Scratch"),
         "sandbox mount is not a directory: \\\\?\\C:\\Work\\notes.txt"},
        {with(".", "missing"),
         "cannot resolve missing: The system cannot find the file specified. (os error 2)"},
        {with(".", "C:\\Work\\Scratch", "bad/name"), "invalid AppContainer profile name"},
        {with("", "C:\\Work\\Scratch"),
         "cannot resolve : The filename, directory name, or volume label syntax is incorrect. (os "
         "error 123)"},
        // The scratch directory is checked before the profile name.
        {with(".", "missing", "bad/name"),
         "cannot resolve missing: The system cannot find the file specified. (os error 2)"},
        {with("C:\\Work\\Proj", "\\\\?\\C:\\Work\\Link"),
         "sandbox mount path is not valid Unicode: C:\\Work\\Link"},
        {{"--project", ".", "--network", "deny", "--", "t"}, "missing --scratch"},
        {{"--project", ".", "--scratch", ".", "--network", "deny", "--", "t"}, "missing --profile"},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(outcome(arguments), expected) << ::testing::PrintToString(arguments);
    }
    sim::set_current_directory("C:\\Work\\Bad\xED\xA0\x80");
    EXPECT_EQ(outcome(with(".", "C:\\Work\\Scratch")),
              "sandbox mount path is not valid Unicode: .");
}

TEST_F(SandboxMount, AttributeQueryFailureMeansNotADirectory) {
    sim::inject({.function = "GetFileInformationByHandle", .call = 1, .result = 0, .error = 5});
    EXPECT_EQ(resolve_sandbox_mount(to_wide("C:\\Work\\Proj")).error().message,
              "sandbox mount is not a directory: \\\\?\\C:\\Work\\Proj");
}

TEST_F(SandboxMount, ChecksOnlyReadTheFileSystem) {
    sim::clear_journal();
    ASSERT_TRUE(parse_command_line(with(".", "C:\\Work\\Scratch")));
    for (const auto& call : sim::journal()) {
        EXPECT_TRUE(call.starts_with("CreateFileW") || call.starts_with("GetFullPathNameW") ||
                    call.starts_with("GetFinalPathNameByHandleW") ||
                    call.starts_with("GetFileInformationByHandle") ||
                    call.starts_with("CloseHandle"))
            << call;
    }
    EXPECT_TRUE(sim::open_handles().empty());
}

} // namespace
