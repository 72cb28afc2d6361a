// The cleanup program after a killed launcher: what it prints, its status, and what it leaves of
// the letters, the record, the lock and the handles.
#include "cleanup/cleanup_process.hpp"
#include "sim/sim_fixture.hpp"

namespace {

constexpr const char* RECORD = "C:\\work\\.scr.norix-native-sandbox-mounts";
const std::string OURS("Z:\0\\??\\C:\\work\\proj\0Y:\0\\??\\C:\\work\\scr\0", 39);
const std::string BOTH = "Y:\\??\\C:\\work\\scr Z:\\??\\C:\\work\\proj";
const std::string Z = "Z: \\??\\C:\\work\\proj: ", Y = "Y: \\??\\C:\\work\\scr: ";
const std::string REMOVED = Z + "removed\n" + Y + "removed\n";
const std::string FAILED = "native sandbox cleanup failed: ";
const std::string LONG = "\\??\\C:\\" + std::string(300, 'x'); // beyond a first listing buffer

// `defined` before, `left` after: "Y:target Z:newest; older", the letters in order. `arrange`
// then changes what stands at the record path.
struct Row {
    std::string record, defined, arguments, output, left;
    sim::Fault fault = {};
    std::function<void()> arrange = [] {};
};

using Cleanup = SimulatedWindows;

TEST_F(Cleanup, RemovesOnlyTheRecordedDefinitionsStillInPlace) {
    const std::string not_found = "The system cannot find the file specified. (os error 2)\n";
    const std::string usage = FAILED + std::string(CLEANUP_USAGE) + "\n";
    const std::string link = FAILED + "mount record is a link: " + RECORD + "\n";
    const auto file_link = [] { sim::make_file_symlink(RECORD, "elsewhere"); };
    const auto junction = [] {
        sim::make_file("C:\\work\\dir\\.scr.norix-native-sandbox-mounts", OURS);
        sim::make_junction(RECORD, "C:\\work\\dir");
    };
    const auto second_name = [] { sim::make_hard_link("C:\\work\\other name", RECORD); };
    std::vector<Row> rows = {
        {OURS, BOTH, "c:/work/SCR", REMOVED, ""},
        {OURS, "Z:\\??\\C:\\work\\proj Z:" + LONG + " Y:\\??\\D:\\other", RECORD,
         Z + "removed\n" + Y + "left, the letter now maps elsewhere\n",
         "Y:\\??\\D:\\other Z:" + LONG},
        {std::string(OURS).replace(20, 1, "A"), "A:\\??\\C:\\work\\scr", "C:\\work\\scr",
         Z + "left, the letter is no longer defined\nA: \\??\\C:\\work\\scr: removed\n", ""},
        {OURS, BOTH, "C:\\work",
         FAILED + "cannot read mount record C:\\.work.norix-native-sandbox-mounts: " + not_found,
         BOTH},
        {OURS, BOTH, "C:\\work\\gone", FAILED + "cannot resolve C:\\work\\gone: " + not_found,
         BOTH},
        {OURS, BOTH, "C:\\work\\scr C:\\work\\scr", usage, BOTH},
        {"Z:", BOTH, RECORD, FAILED + "cannot create sandbox allocation lock: Win32 5\n", BOTH,
         fault_on("CreateMutexW", 0, 5)}, // before the record is read
        {OURS, BOTH, RECORD,
         Z + "removed\n" + FAILED + "cannot query the Y: definitions: Win32 5\n",
         "Y:\\??\\C:\\work\\scr", fault_for("QueryDosDeviceW", "Y:", 0, 5)},
        {OURS, BOTH, RECORD, FAILED + "cannot remove the Z: definition: Win32 5\n", BOTH,
         fault_for("DefineDosDeviceW", "Z:", 0, 5)},
        {OURS, BOTH, RECORD,
         REMOVED + FAILED + "cannot delete mount record " + RECORD +
             ": Access is denied. (os error 5)\n",
         "", fault_on("SetFileInformationByHandle", 0, 5)},
        {OURS, BOTH, RECORD, "", "", fault_on("WriteFile", 0, 232)},
        // Refused unread, named as given or beside the scratch directory: a link to a record, a
        // junction to a folder with one, one of two names of a record.
        {OURS, BOTH, RECORD, link, BOTH, {}, file_link},
        {OURS, BOTH, "C:\\work\\scr", link, BOTH, {}, junction},
        {OURS,
         BOTH,
         RECORD,
         FAILED + "mount record has more than one name: " + RECORD + "\n",
         BOTH,
         {},
         second_name},
    };
    // Three fields; no NUL after the fourth; bytes after it; drives that are no letter and a
    // colon; targets without "\\??\\" or without a path after it; a byte that is no UTF-8.
    for (const std::string& malformed :
         {OURS.substr(0, 23), OURS.substr(0, 38), OURS + "X:", "@" + OURS.substr(1),
          "[" + OURS.substr(1), "Z;" + OURS.substr(2), "ZZ:" + OURS.substr(2),
          OURS.substr(0, 3) + "C:\\work\\proj" + OURS.substr(19),
          OURS.substr(0, 3) + "\\??\\" + OURS.substr(19),
          OURS.substr(0, 34) + "\xff" + OURS.substr(35)}) {
        rows.push_back(
            {malformed, BOTH, RECORD, FAILED + "malformed mount record: " + RECORD + "\n", BOTH});
    }
    for (const auto& row : rows) {
        sim::reset();
        sim::make_directory("C:\\work\\scr");
        sim::make_file(RECORD, row.record);
        sim::make_file("C:\\work\\elsewhere", row.record);
        for (const auto& definition : split(row.defined)) {
            sim::define_dos_device(definition.substr(0, 2), definition.substr(2));
        }
        sim::inject(row.fault);
        row.arrange();
        const int status = run_cleanup_process(to_wide("cleanup " + row.arguments));
        std::string left;
        for (const auto& letter : sim::defined_letters()) {
            left += (left.empty() ? "" : " ") + letter + joined(sim::dos_device_targets(letter));
        }
        const bool failed = row.output.contains(FAILED);
        EXPECT_EQ(sim::stderr_text(), row.output) << row.arguments;
        // No output at all: standard error refused it, after the record was deleted.
        EXPECT_EQ(status, failed || row.output.empty() ? 1 : 0) << row.output;
        EXPECT_EQ(left, row.left) << row.output;
        // Through a link to a file, or beside the junction's record.
        const auto kept = sim::file_content(RECORD).or_else(
            [] { return sim::file_content("C:\\work\\dir\\.scr.norix-native-sandbox-mounts"); });
        EXPECT_EQ(kept, failed ? std::optional(row.record) : std::nullopt);
        EXPECT_EQ(joined(sim::owned_mutexes()) + joined(sim::open_handles()), "") << row.output;
    }
}

// Alone, on standard output, with status 0.
TEST_F(Cleanup, HelpAndVersionGoToStandardOutput) {
    sim::set_stderr(sim::StreamKind::Pipe);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    EXPECT_EQ(run_cleanup_process(to_wide("cleanup --version")), 0);
    EXPECT_EQ(run_cleanup_process(to_wide("cleanup --help")), 0);
    EXPECT_TRUE(sim::stderr_text().starts_with("norix-native-sandbox-cleanup 0.1.0\n" +
                                               std::string(CLEANUP_USAGE) + "\n"));
    sim::inject(fault_on("WriteFile", 0, 232));
    EXPECT_EQ(run_cleanup_process(to_wide("cleanup --help")), 1);
    EXPECT_TRUE(sim::stderr_text().ends_with(
        "native sandbox cleanup failed: cannot write to standard output: Win32 232\n"));
}

// A launcher that starts meanwhile on the same scratch directory writes its record at this path:
// the record's name is gone (its handle closed) before the lock is given up.
TEST_F(Cleanup, DeletesTheRecordBeforeReleasingTheLock) {
    sim::make_directory("C:\\work\\scr");
    sim::make_file(RECORD, OURS);
    run_cleanup_process(to_wide("cleanup C:\\work\\scr"));
    const Strings calls =
        journal_without({"CreateFileW", "Get", "ReadFile", "Query", "Define", "WriteFile"});
    const auto locked = std::ranges::find(calls, "WaitForSingleObject mutex INFINITE");
    EXPECT_EQ(joined(Strings(locked, calls.end())),
              "WaitForSingleObject mutex INFINITE; SetFileInformationByHandle 4; CloseHandle file; "
              "ReleaseMutex; CloseHandle mutex");
}

} // namespace
