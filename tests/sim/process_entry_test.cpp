// The process entry and what reaches standard error: the failure line and its status.
#include "entry/process_entry.hpp"
#include "sim/sim_fixture.hpp"
#include "unit/units.hpp"

namespace {

using ProcessEntry = SimulatedWindows;

// Each line with status 126, before any call on the machine.
TEST_F(ProcessEntry, CommandLineFailuresComeFirst) {
    const std::string usage = "usage: norix-native-sandbox --project <path> --scratch <path> "
                              "--profile <name> --network deny -- <program> [args...]";
    const std::pair<WideString, std::string> cases[] = {
        {to_wide("norix-native-sandbox.exe"), usage},
        // The unknown option echoes the argument exactly as the C runtime's splitting gives it.
        {to_wide("\"C:\\x y\\n.exe\"x \"a\"\"b\\\\\"c v -- t"), "unknown sandbox option: a\"b\\c"},
        {to_wide("n.exe --project C:\\") + units({0xDC00}) + to_wide(" --network deny -- t"),
         "command-line argument is not valid Unicode"},
        // --help and --version count only alone.
        {to_wide("n.exe --help --version -- t"), "unknown sandbox option: --help"},
    };
    for (const auto& [command_line, message] : cases) {
        sim::reset();
        EXPECT_EQ(run_process(command_line), 126) << message;
        EXPECT_EQ(sim::stderr_text(), "native sandbox failed: " + message + "\n");
        EXPECT_EQ(journal_without({"WriteFile"}), Strings{}) << message;
    }
}

// Alone, on standard output, with status 0 (the version: host_channel_test.sh); standard output
// that refuses the text is a fatal stop.
TEST_F(ProcessEntry, HelpGoesToStandardOutput) {
    sim::set_stderr(sim::StreamKind::Pipe);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    EXPECT_EQ(run_process(to_wide("\"n.exe\" --help")), 0);
    EXPECT_TRUE(sim::stderr_text().starts_with("usage: norix-native-sandbox --project <path>"));
    sim::inject(fault_on("WriteFile", 0, 232));
    EXPECT_EQ(run_process(to_wide("n.exe --help")), 101);
    EXPECT_EQ(sim::stderr_text().substr(sim::stderr_text().rfind("native")),
              "native sandbox fatal error: cannot write to standard output: Win32 232\n");
}

TEST_F(ProcessEntry, FailureLineReachesEveryKindOfStandardError) {
    // A path outside ASCII, as typed, in the message.
    const std::string command_line =
        "n.exe --network deny --project C:\\W\xC3\xB6rk\\\xE2\x82\xAC -- t";
    const std::string line = "native sandbox failed: cannot resolve C:\\W\xC3\xB6rk\\\xE2\x82\xAC: "
                             "The system cannot find the path specified. (os error 3)\n";
    // UTF-8 bytes to a pipe or to a device such as NUL (to a console, UTF-16 units:
    // console_test.sh).
    const std::pair<sim::StreamKind, std::string> cases[] = {
        {sim::StreamKind::Pipe, "WriteFile stream " + std::to_string(line.size())},
        {sim::StreamKind::Device, "WriteFile stream " + std::to_string(line.size())}};
    for (const auto& [kind, write] : cases) {
        sim::reset();
        sim::set_stderr(kind);
        EXPECT_EQ(run_process(to_wide(command_line)), 126);
        EXPECT_EQ(sim::stderr_text(), line);
        EXPECT_EQ(journal_without({"CreateFileW", "GetFullPathNameW"}), Strings{write});
    }
    // A pipe that takes all but the last byte: the rest follows in a second write.
    sim::reset();
    sim::set_stderr(sim::StreamKind::Pipe, 0, line.size() - 1);
    EXPECT_EQ(run_process(to_wide(command_line)), 126);
    EXPECT_EQ(sim::stderr_text(), line);
}

TEST_F(ProcessEntry, StatusWhenStandardErrorIsMissingOrRefusesTheLine) {
    sim::set_stderr(std::nullopt);
    EXPECT_EQ(run_process(to_wide("n.exe")), 126);
    EXPECT_EQ(sim::journal(), Strings{});
    sim::set_stderr(sim::StreamKind::Pipe);
    sim::inject(fault_on("WriteFile", 0, 232)); // the failure line cannot be written, the next can
    EXPECT_EQ(run_process(to_wide("n.exe")), 101);
    EXPECT_EQ(sim::stderr_text(),
              "native sandbox fatal error: cannot write the failure line to standard error\n");
}

} // namespace
