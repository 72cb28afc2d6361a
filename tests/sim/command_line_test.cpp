// The command line's checks, in order: those that decide before any directory is looked at, then
// those that look at the directories, and only read.
#include "entry/command_line.hpp"
#include "sim/sim_fixture.hpp"

namespace {

Strings with(const std::string& scratch, const std::string& profile = "agent",
             const std::string& timeout = "1") {
    Strings arguments = split("--project C:\\Work\\Proj --scratch - --profile - --timeout - "
                              "--network deny -- tool.exe");
    arguments[3] = scratch, arguments[5] = profile, arguments[7] = timeout;
    return arguments;
}

const std::string PROJ = "C:\\Work\\Proj";
const std::string TIMEOUT = "invalid value for --timeout: ";
const std::string RANGE = " (a whole number of seconds from 1 to 4294967)";
const std::string NETWORK = "native processes cannot receive direct network access";
const std::string PROFILE = "invalid AppContainer profile name";
const std::string MISSING = ": The system cannot find the file specified. (os error 2)";
const std::string NAME_64(64, 'a');

TEST_F(SimulatedWindows, CommandLineChecksFailInOrderAndOnlyRead) {
    sim::make_directory("C:\\Work\\Proj");
    sim::add_share("srv", "share");
    sim::make_file("C:\\Work\\notes.txt");
    // "\xED\xA0\x80" makes the simulated name hold the unpaired surrogate U+D800.
    sim::make_directory("C:\\Work\\Bad\xED\xA0\x80");
    sim::make_symlink("C:\\Work\\Link", "C:\\Work\\Bad\xED\xA0\x80");
    const std::pair<Strings, std::string> cases[] = {
        {{"--network", "deny", "--"}, std::string(USAGE)},
        {{"--profile", "--", "tool.exe"}, "missing value for --profile"},
        {{"stray", "--", "t"}, "missing value for stray"}, // before the name is looked at
        {{"--Project", "x", "--", "t"}, "unknown sandbox option: --Project"},
        // The last value of an option wins; the first "--" ends the options.
        {{"--network", "allow", "--network", "deny", "--", "t"}, "missing --project"},
        {{"--network", "deny", "--network", "Deny", "--", "t"}, NETWORK},
        {{"--", "--", "--project"}, NETWORK},
        {{"--project", "--scratch", "--", "t"}, NETWORK}, // a value may look like a name
        {{"--project", "C:\\Work\\Proj", "--network", "deny", "--", "t"}, "missing --scratch"},
        {{"--project", "C:\\Work\\Proj", "--scratch", ".", "--network", "deny", "--", "t"},
         "missing --profile"},
        // Verbatim values that resolve to nothing are named as typed.
        {with("\\\\?\\C:\\Work\\Gone"), "cannot resolve \\\\?\\C:\\Work\\Gone" + MISSING},
        {with("\\\\?\\UNC\\srv\\share\\gone"),
         "cannot resolve \\\\?\\UNC\\srv\\share\\gone" + MISSING},
        {with("C:\\Work\\notes.txt"),
         "sandbox mount is not a directory: \\\\?\\C:\\Work\\notes.txt"},
        {with("\\\\?\\C:\\Work\\Link"), "sandbox mount path is not valid Unicode: C:\\Work\\Link"},
        {with(PROJ, "bad/name", "0"), PROFILE},
        {with(PROJ, "norix agent_1.0-xzAZ09"), "(request)"},
        {with(PROJ, NAME_64), "(request)"},
        {with(PROJ, NAME_64 + "a"), PROFILE},
        {with(PROJ, "\xC3\xA9"), PROFILE},
        // Whole seconds whose milliseconds fit below INFINITE.
        {with(PROJ, "agent", "4294967"), "(request)"},
        {with(PROJ, "agent", "4294968"), TIMEOUT + "4294968" + RANGE},
        {with(PROJ, "agent", "0"), TIMEOUT + "0" + RANGE},
        {with(PROJ, "agent", "+5"), TIMEOUT + "+5" + RANGE},
        {with(PROJ, "agent", ""), TIMEOUT + RANGE},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto request = parse_command_line(arguments);
        EXPECT_EQ(request ? "(request)" : request.error().message, expected)
            << ::testing::PrintToString(arguments);
    }
    EXPECT_EQ(parse_command_line(with(PROJ, "agent", "4294967"))->timeout_milliseconds,
              4294967000U);
    EXPECT_EQ(journal_without({"CreateFileW", "GetFullPathNameW", "CloseHandle",
                               "GetFinalPathNameByHandleW", "GetFileInformationByHandle"}),
              Strings{});
    EXPECT_EQ(sim::open_handles(), Strings{});
}

} // namespace
