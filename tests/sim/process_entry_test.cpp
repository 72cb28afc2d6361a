// The process entry and what reaches standard error: the failure line, the stage trace.
#include "common/trace.hpp"
#include "entry/process_entry.hpp"
#include "sim/sim_fixture.hpp"

namespace {

using ProcessEntry = SimulatedWindows;

std::string failure_line(const char* command_line) {
    sim::reset();
    const int status = run_process(to_wide(command_line));
    return std::to_string(status) + " " + sim::stderr_text();
}

TEST_F(ProcessEntry, FailureLinesOfTheCommandLine) {
    const std::string usage =
        "126 native sandbox failed: usage: norix-native-sandbox --project "
        "<path> --scratch <path> --profile <name> --network deny -- <program> "
        "[args...]\n";
    const std::string unknown = "126 native sandbox failed: unknown sandbox option: ";
    // The unknown option echoes the argument exactly as the C runtime's splitting gives it.
    const std::pair<const char*, std::string> cases[] = {
        {"norix-native-sandbox.exe", usage},
        {"\"C:\\Program Files\\n.exe\"  --project", usage},
        {"\"C:\\x y\\n.exe\"x \"a\"\"b\\\\\"c v -- t", unknown + "a\"b\\c\n"},
    };
    for (const auto& [command_line, expected] : cases) {
        EXPECT_EQ(failure_line(command_line), expected) << command_line;
    }
}

TEST_F(ProcessEntry, FailureLineReachesEveryKindOfStandardError) {
    // A path outside ASCII, as typed, in the message.
    const std::string command_line =
        "n.exe --network deny --project C:\\W\xC3\xB6rk\\\xE2\x82\xAC -- t";
    const std::string line = "native sandbox failed: cannot resolve C:\\W\xC3\xB6rk\\\xE2\x82\xAC: "
                             "The system cannot find the path specified. (os error 3)\n";
    // UTF-16 units to a console, UTF-8 bytes to a pipe or file.
    const std::pair<sim::StreamKind, std::string> cases[] = {
        {sim::StreamKind::Console, "WriteConsoleW " + std::to_string(to_wide(line).size())},
        {sim::StreamKind::Pipe, "WriteFile stream " + std::to_string(line.size())},
        {sim::StreamKind::File, "WriteFile stream " + std::to_string(line.size())}};
    for (const auto& [kind, write] : cases) {
        sim::reset();
        sim::set_stderr(kind);
        EXPECT_EQ(run_process(to_wide(command_line)), 126);
        EXPECT_EQ(sim::stderr_text(), line);
        EXPECT_EQ(journal_without({"CreateFileW", "GetFullPathNameW"}), Strings{write});
    }
}

TEST_F(ProcessEntry, StatusWhenStandardErrorIsMissingOrRefusesTheLine) {
    sim::set_stderr(std::nullopt);
    trace_on();
    trace_stage("resume");
    EXPECT_EQ(run_process(to_wide("n.exe")), 126);
    EXPECT_EQ(journal_without({"GetEnvironmentVariableW", "SetEnvironmentVariableW"}), Strings{});
    sim::set_stderr(sim::StreamKind::Pipe);
    sim::inject(fault_on("WriteFile", 0, 232)); // the failure line cannot be written, the next can
    EXPECT_EQ(run_process(to_wide("n.exe")), 101);
    EXPECT_EQ(sim::stderr_text(),
              "native sandbox fatal error: cannot write the failure line to standard error\n");
}

TEST_F(ProcessEntry, UnpairedSurrogateStopsBeforeAnythingElse) {
    WideString command_line = to_wide("n.exe --project C:\\");
    command_line.push_back(static_cast<WCHAR>(0xDC00));
    command_line += to_wide(" --scratch C:\\ --profile a --network deny -- t");
    EXPECT_EQ(run_process(command_line), 126);
    EXPECT_EQ(sim::stderr_text(),
              "native sandbox failed: command-line argument is not valid Unicode\n");
    EXPECT_EQ(journal_without({"WriteFile"}), Strings{});
}

TEST_F(ProcessEntry, StageTraceWhileTheVariableIsDefinedWithTheLastErrorKept) {
    trace_stage("acl-read");
    trace_on();
    WideString path = to_wide("\\\\?\\C:\\Work\\x");
    path.push_back(static_cast<WCHAR>(0xD800));
    trace_stage("grant-mount", path);
    SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), nullptr);
    SetLastError(0xC0000005U);
    trace_stage("acl-merge"); // looking the variable up fails, with an error of its own
    EXPECT_EQ(win32_failure("cannot set").message, "cannot set: Win32 3221225477");
    SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), to_wide("0").c_str());
    trace_stage("acl-set");
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=grant-mount path=\\\\?\\C:\\Work\\x\xEF\xBF\xBD\n"
                                  "sandbox-stage=acl-set\n");
}

} // namespace
