// The process entry: the command line in, the failure line and the exit status out.
#include "entry/process_entry.hpp"
#include "sim/fault.hpp"
#include "sim_fixture.hpp"

namespace {

using ProcessEntry = SimulatedWindows;

const std::string USAGE_LINE =
    "native sandbox failed: usage: norix-native-sandbox --project <path> --scratch <path> "
    "--profile <name> --network deny -- <program> [args...]\n";

TEST_F(ProcessEntry, NoArgumentsGiveTheUsageLine) {
    for (const char* command_line :
         {"norix-native-sandbox.exe", "\"C:\\Program Files\\n.exe\"  ", "n.exe --project"}) {
        sim::reset();
        EXPECT_EQ(run_process(to_wide(command_line)), 126) << command_line;
        EXPECT_EQ(sim::stderr_text(), USAGE_LINE) << command_line;
    }
}

TEST_F(ProcessEntry, FailureLineReachesEveryKindOfStandardError) {
    // A path outside ASCII, as typed, in the message.
    const std::string command_line =
        "n.exe --network deny --project C:\\W\xC3\xB6rk\\\xE2\x82\xAC -- t";
    const std::string line =
        "native sandbox failed: cannot resolve C:\\W\xC3\xB6rk\\\xE2\x82\xAC: The "
        "system cannot find the path specified. (os error 3)\n";
    struct Case {
        std::optional<sim::StreamKind> kind;
        const char* call;
    };
    const Case cases[] = {{sim::StreamKind::Console, "WriteConsoleW"},
                          {sim::StreamKind::Pipe, "WriteFile"},
                          {sim::StreamKind::File, "WriteFile"}};
    for (const auto& c : cases) {
        sim::reset();
        sim::set_stderr(c.kind);
        sim::clear_journal();
        EXPECT_EQ(run_process(to_wide(command_line)), 126);
        EXPECT_EQ(sim::stderr_text(), line);
        const auto writes = sim::journal_of(c.call);
        ASSERT_EQ(writes.size(), 1U) << c.call;
        // UTF-16 units to a console, UTF-8 bytes to a pipe or file.
        const std::size_t size =
            c.call == std::string("WriteConsoleW") ? to_wide(line).size() : line.size();
        EXPECT_EQ(writes[0], std::string(c.call) +
                                 (c.call == std::string("WriteFile") ? " stream " : " ") +
                                 std::to_string(size));
    }
}

TEST_F(ProcessEntry, WithoutStandardErrorTheStatusIsStill126) {
    sim::set_stderr(std::nullopt);
    EXPECT_EQ(run_process(to_wide("n.exe")), 126);
    EXPECT_TRUE(sim::journal_of("WriteFile").empty());
    EXPECT_TRUE(sim::journal_of("WriteConsoleW").empty());
}

TEST_F(ProcessEntry, FailedWriteOfTheFailureLineIsAFatalStop) {
    sim::set_stderr(sim::StreamKind::Pipe, 232);
    EXPECT_EQ(run_process(to_wide("n.exe")), 101);
    EXPECT_EQ(sim::stderr_text(), "");
}

TEST_F(ProcessEntry, UnpairedSurrogateStopsBeforeAnythingElse) {
    WideString command_line = to_wide("n.exe --project C:\\");
    command_line.push_back(static_cast<WCHAR>(0xDC00));
    command_line += to_wide(" --scratch C:\\ --profile a --network deny -- t");
    sim::clear_journal();
    EXPECT_EQ(run_process(command_line), 126);
    EXPECT_EQ(sim::stderr_text(),
              "native sandbox failed: command-line argument is not valid Unicode\n");
    EXPECT_TRUE(sim::journal_of("CreateFileW").empty());
    EXPECT_TRUE(sim::journal_of("CreateAppContainerProfile").empty());
}

TEST_F(ProcessEntry, ArgumentsAreSplitAsTheCRuntimeDoes) {
    // The unknown option echoes the argument exactly as the splitting produced it.
    const std::pair<const char*, const char*> cases[] = {
        {"n.exe \"a b\" v -- t", "a b"},     {"n.exe a\\\\\\\"b v -- t", "a\\\"b"},
        {"n.exe \"a\\\\\"b v -- t", "a\\b"}, {"n.exe \"a\"\"b\" v -- t", "a\"b"},
        {"n.exe a\\\\b v -- t", "a\\\\b"},   {"\"C:\\x y\\n.exe\"x \"q\" v -- t", "q"},
        {"n.exe\t\"\" v -- t", ""},
    };
    for (const auto& [command_line, option] : cases) {
        sim::reset();
        EXPECT_EQ(run_process(to_wide(command_line)), 126) << command_line;
        EXPECT_EQ(sim::stderr_text(),
                  std::string("native sandbox failed: unknown sandbox option: ") + option + "\n")
            << command_line;
    }
}

} // namespace
