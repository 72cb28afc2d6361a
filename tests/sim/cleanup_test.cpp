// The cleanup program after a killed launcher: what it prints, its status, and what it leaves of
// the letters, the record, the lock and the handles.
#include "cleanup/cleanup_process.hpp"
#include "sim/sim_fixture.hpp"

namespace {

constexpr const char* RECORD = "C:\\work\\.scr.norix-native-sandbox-mounts";

// A mount record's bytes as the launcher writes them: the project's drive and target, then the
// scratch directory's, each field ended by a NUL. What a row sets is what is wrong with it.
struct Record {
    std::string project_drive = "Z:", project = "\\??\\C:\\work\\proj";
    std::string scratch_drive = "Y:", scratch = "\\??\\C:\\work\\scr"; // left out when empty
    bool last_ended = true;                                            // by its NUL
    std::string after = {};                                            // bytes after the last field

    std::string bytes() const {
        std::string text = project_drive + '\0' + project + '\0' + scratch_drive + '\0';
        text += scratch.empty() ? "" : scratch + '\0';
        return (last_ended ? text : text.substr(0, text.size() - 1)) + after;
    }
};

const std::string OURS = Record{}.bytes();
const std::string PROJ = "\\??\\C:\\work\\proj", SCR = "\\??\\C:\\work\\scr"; // the targets
const std::string BOTH = "Y:" + SCR + " Z:" + PROJ;
const std::string Z = "Z: " + PROJ + ": ", Y = "Y: " + SCR + ": ";
const std::string NAME = ".scr.norix-native-sandbox-mounts", DIR = "C:\\work\\scr";
const std::string REMOVED = Z + "removed\n" + Y + "removed\n";
const std::string FAILED = "native sandbox cleanup failed: ";
const std::string LONG = "\\??\\C:\\" + std::string(300, 'x'); // beyond a first listing buffer
const std::string MISSING = "The system cannot find the file specified. (os error 2)\n";
const std::string LINK = FAILED + "mount record is a link: " + RECORD + "\n";
const std::string WIN32_5 = ": Win32 5\n", DENIED = "Access is denied. (os error 5)\n";

// The record at the record path, the letters `defined` before and `left` after ("Y:target
// Z:newest; older", the letters in order), the arguments, standard error, the fault, and what
// `arrange` then changes at the record path.
struct Row {
    std::string record = OURS, defined = BOTH, arguments = RECORD, output, left = BOTH;
    sim::Fault fault = {};
    std::function<void()> arrange = [] {};
};

using Cleanup = SimulatedWindows;

TEST_F(Cleanup, RemovesOnlyTheRecordedDefinitionsStillInPlace) {
    // A row to a line or two reads as a table:
    // clang-format off
    std::vector<Row> rows = {
        {.arguments = "c:/work/SCR", .output = REMOVED, .left = ""},
        {.defined = "Z:" + PROJ + " Z:" + LONG + " Y:\\??\\D:\\other",
         .output = Z + "removed\n" + Y + "left, the letter now maps elsewhere\n",
         .left = "Y:\\??\\D:\\other Z:" + LONG},
        {.record = Record{.scratch_drive = "A:"}.bytes(), .defined = "A:" + SCR, .arguments = DIR,
         .output = Z + "left, the letter is no longer defined\nA: " + SCR + ": removed\n",
         .left = ""},
        {.arguments = "C:\\work", .output = FAILED + "cannot read mount record C:\\.work"
                                            ".norix-native-sandbox-mounts: " + MISSING},
        {.arguments = "C:\\work\\gone",
         .output = FAILED + "cannot resolve C:\\work\\gone: " + MISSING},
        // Before the record is read.
        {.record = "Z:", .output = FAILED + "cannot create sandbox allocation lock" + WIN32_5,
         .fault = fault_on("CreateMutexW", 0, 5)},
        {.output = Z + "removed\n" + FAILED + "cannot query the Y: definitions" + WIN32_5,
         .left = "Y:" + SCR, .fault = fault_for("QueryDosDeviceW", "Y:", 0, 5)},
        {.output = FAILED + "cannot remove the Z: definition" + WIN32_5,
         .fault = fault_for("DefineDosDeviceW", "Z:", 0, 5)},
        {.output = REMOVED + FAILED + "cannot delete mount record " + RECORD + ": " + DENIED,
         .left = "", .fault = fault_on("SetFileInformationByHandle", 0, 5)},
        // Standard error refuses the output, after the record was deleted.
        {.output = "", .left = "", .fault = fault_on("WriteFile", 0, 232)},
        // Refused unread, named as given or beside the scratch directory: a link to a record, a
        // junction to a folder with one, one of two names of a record.
        {.output = LINK, .arrange = [] { sim::make_file_symlink(RECORD, "elsewhere"); }},
        {.arguments = DIR, .output = LINK, .arrange = [] {
            sim::make_file("C:\\work\\dir\\" + NAME, OURS);
            sim::make_junction(RECORD, "C:\\work\\dir");
        }},
        {.output = FAILED + "mount record has more than one name: " + RECORD + "\n",
         .arrange = [] { sim::make_hard_link("C:\\work\\other name", RECORD); }},
    };
    // clang-format on
    for (const Record& malformed :
         {Record{.scratch = ""}, Record{.last_ended = false}, Record{.after = "X:"},
          Record{.project_drive = "@:"}, Record{.project_drive = "[:"},
          Record{.project_drive = "Z;"}, Record{.project_drive = "ZZ:"},
          Record{.project = "C:\\work\\proj"}, Record{.project = "\\??\\"},
          Record{.scratch = "\\??\\C:\\work\xffscr"}}) {
        rows.push_back({.record = malformed.bytes(),
                        .output = FAILED + "malformed mount record: " + RECORD + "\n"});
    }
    for (const auto& row : rows) {
        sim::reset();
        sim::make_directory(DIR);
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
        EXPECT_EQ(status, failed || row.output.empty() ? 1 : 0) << row.output;
        EXPECT_EQ(left, row.left) << row.output;
        // Through a link to a file, or beside the junction's record.
        const auto kept = sim::file_content(RECORD).or_else(
            [] { return sim::file_content("C:\\work\\dir\\" + NAME); });
        EXPECT_EQ(kept, failed ? std::optional(row.record) : std::nullopt);
        EXPECT_EQ(joined(sim::owned_mutexes()) + joined(sim::open_handles()), "") << row.output;
    }
}
// A launcher that starts meanwhile on the same scratch directory writes its record at this path:
// the record's name is gone (its handle closed) before the lock is given up.
TEST_F(Cleanup, DeletesTheRecordBeforeReleasingTheLock) {
    sim::make_directory(DIR);
    sim::make_file(RECORD, OURS);
    run_cleanup_process(to_wide("cleanup " + DIR));
    const Strings calls =
        journal_without({"CreateFileW", "Get", "ReadFile", "Query", "Define", "WriteFile"});
    const auto locked = std::ranges::find(calls, "WaitForSingleObject mutex INFINITE");
    EXPECT_EQ(joined(Strings(locked, calls.end())),
              "WaitForSingleObject mutex INFINITE; SetFileInformationByHandle 4; CloseHandle file; "
              "ReleaseMutex; CloseHandle mutex");
}

} // namespace
