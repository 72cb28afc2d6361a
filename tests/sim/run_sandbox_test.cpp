// Whole runs through the process entry: every failure point with its line, status, release order
// and nothing left behind; what a run gives the child; runs that meet other launchers.
#include "entry/process_entry.hpp"
#include "mounts/drive_allocation_lock.hpp"
#include "paths/argument_translation.hpp"
#include "paths/environment_rewrite.hpp"
#include "run/app_container.hpp"
#include "run/child_command_line.hpp"
#include "run/run_report.hpp"
#include "run/run_sandbox.hpp"
#include "sim/sim_fixture.hpp"

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

namespace {

constexpr const char* RECORD = "\\\\?\\C:\\Work\\.Scratch.norix-native-sandbox-mounts";
const std::string PLAIN_RECORD = std::string(RECORD).substr(4);
const std::string PROJECT = "\\\\?\\C:\\Work\\Proj", SCRATCH = "\\\\?\\C:\\Work\\Scratch";
// The record and letters of a run killed on this machine.
const std::string KILLED("Z:\0\\??\\C:\\Work\\Proj\0Y:\0\\??\\C:\\Work\\Scratch\0", 43);
void killed_run() {
    sim::make_file(PLAIN_RECORD, KILLED);
    sim::define_dos_device("Z:", "\\??\\C:\\Work\\Proj");
    sim::define_dos_device("Y:", "\\??\\C:\\Work\\Scratch");
}

Strings standard_arguments() {
    return split("--project C:\\Work\\Proj --scratch C:\\Work\\Scratch --profile agent --network "
                 "deny -- bin\\tool.exe C:\\Work\\Proj\\src\\main.c");
}

int run_with(const Strings& arguments) {
    return run_process(to_wide(build_command_line("norix-native-sandbox.exe", arguments)));
}

// The calls that release what a run holds, each with the name that rows give its step.
struct ReleaseStep {
    std::string call;
    const char* step;
};
// How a run removes a letter it defined: only while it still maps onto that target.
const std::string REMOVE = "DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|"
                           "DDD_EXACT_MATCH_ON_REMOVE|DDD_NO_BROADCAST_SYSTEM ";
const ReleaseStep RELEASE_STEPS[] = {
    {"ReleaseMutex", "unlock"},           // the lock given up; its handle's close goes with it
    {"CloseHandle mutex", "close-mutex"}, // the handle of a lock never taken
    {"DeleteProcThreadAttributeList", "attributes"},
    {"TerminateProcess 1", "terminate"}, // a child outside its job
    {"CloseHandle thread", "thread"},
    {"CloseHandle process", "process"},
    {"CloseHandle job", "job"},
    {REMOVE + "Y: \\??\\C:\\Work\\Scratch", "Y:"},
    {REMOVE + "Z: \\??\\C:\\Work\\Proj", "Z:"},
    {"DeleteFileW " + std::string(RECORD), "record"},
    {"FreeSid", "sid"},
};

// The release steps of the journal, in the order taken.
std::string releases() {
    std::string released;
    for (const auto& line : sim::journal()) {
        const auto* found = std::ranges::find(RELEASE_STEPS, line, &ReleaseStep::call);
        const std::string_view step = found == std::end(RELEASE_STEPS) ? "" : found->step;
        if (!step.empty() && !(step == "close-mutex" && released.ends_with("unlock"))) {
            released += (released.empty() ? "" : " ") + std::string(step);
        }
    }
    return released;
}

// Another launcher, holding the allocation lock.
sim::Dword hold_the_lock() {
    const sim::Dword holder = sim::start_launcher();
    const sim::ProcessScope scope(holder);
    const HANDLE held = CreateMutexW(nullptr, FALSE, to_wide(DRIVE_ALLOCATION_MUTEX).c_str());
    EXPECT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    return holder;
}

// Until a call of this function (and first arguments) has been made.
void await_call(std::string_view call) {
    while (sim::journal_of(call).empty()) {
        std::this_thread::yield();
    }
}

// The stage lines of a run that goes well, by the names rows give them: a grant's own lines carry
// its directory ("scratch acl-merge").
const Strings STAGES = split(
    "grant-project;project grant-mount;project acl-read;project acl-merge;project acl-set;project "
    "acl-done;grant-scratch;scratch grant-mount;scratch acl-read;scratch acl-merge;scratch acl-set;"
    "scratch acl-done;create-process;assign-job;resume;wait;settled",
    ";");

// Their trace up to the line named `last`.
std::string trace(const std::string& last) {
    std::string text;
    for (std::size_t at = 0; at == 0 || STAGES[at - 1] != last; ++at) {
        const Strings words = split(STAGES.at(at));
        const std::string path = words[0] == "project" ? PROJECT : SCRATCH;
        text += "sandbox-stage=" + words.back() +
                (words.back() == "grant-mount" ? " path=" + path : "") + "\n";
    }
    return text;
}

// Both grants made.
const std::string GRANTED = trace("scratch acl-done");

using Arrange = std::function<void(Strings&)>;

// The host's channel options before "--", then whatever else `also` arranges.
Arrange with(
    const Strings& options, const Arrange& also = [](Strings&) {}) {
    return [=](Strings& arguments) {
        arguments.insert(arguments.begin() + 8, options.begin(), options.end());
        also(arguments);
    };
}

constexpr const char* REPORT = "C:\\Work\\run.jsonl";
constexpr const char* HOST_STOP = "Local\\host-stop";
const Strings DRIVEN = {"--report", REPORT, "--timeout", "5", "--stop-event", HOST_STOP};

// The host's stop event, not set, made by a host of its own: the next launcher, pid 100 on a
// fresh machine (its first child is then 101).
HANDLE host_stop_event() {
    const sim::ProcessScope scope(sim::start_launcher());
    return CreateEventW(nullptr, TRUE, FALSE, to_wide(HOST_STOP).c_str());
}

void use_program(sim::Program program) {
    sim::register_program("C:\\Work\\Proj\\bin\\tool.exe", std::move(program));
}

class SandboxRun : public SimulatedWindows {
protected:
    void SetUp() override { fresh_machine(); }

    // The project and scratch directories and the child program on a new machine.
    void fresh_machine() {
        sim::reset();
        sim::make_directory("C:\\Work\\Proj\\src");
        sim::make_directory("C:\\Work\\Scratch");
        use_program([this](const sim::ChildView&) { return exit_code_; });
        sim::clear_journal();
    }

    // A run that goes well, the trace on and standard error a console. Variables name the
    // directories plainly, escaped (under a one-letter name) and as a sibling; the child starts a
    // descendant, which the job ends.
    // With `options`, a host's, whose stop event is made first.
    int run_child(const Strings& options = {}) {
        if (!options.empty()) {
            host_stop_event();
        }
        sim::set_stderr(sim::StreamKind::Console);
        sim::set_environment({"=C:=C:\\Work\\Proj", "E=C:\\\\Work\\\\Proj\\\\src",
                              "NORIX_SANDBOX_TRACE=", "Path=C:\\Work\\Proj\\bin;C:\\Windows",
                              "ProjectOld=C:\\Work\\Project2", "SystemRoot=C:\\Windows",
                              "TEMP=C:\\Work\\Scratch\\t"});
        use_program([this](const sim::ChildView& view) {
            seen_ = view;
            sim::start_descendant();
            return sim::Dword{0};
        });
        Strings arguments = standard_arguments();
        with(options)(arguments);
        return run_with(arguments);
    }

    // What a run left behind, one text each: its letters ("letter Y:"), "record", "lock", its
    // handles by kind ("handle job"), and each "job", "process", "sid" and "block".
    static Strings left_behind() {
        Strings left;
        for (const auto& letter : sim::defined_letters()) {
            if (joined(sim::dos_device_targets(letter)).contains("C:\\Work")) {
                left.push_back("letter " + letter);
            }
        }
        left.insert(left.end(), sim::path_exists(RECORD) ? 1 : 0, "record");
        left.insert(left.end(), sim::owned_mutexes().size(), "lock");
        for (const auto& kind : sim::open_handles()) {
            left.push_back("handle " + kind);
        }
        left.insert(left.end(), sim::live_jobs(), "job");
        left.insert(left.end(), sim::live_processes().size(), "process");
        left.insert(left.end(), sim::unfreed_sids(), "sid");
        left.insert(left.end(), sim::unfreed_blocks(), "block");
        return left;
    }

    sim::ChildView seen_;
    sim::Dword exit_code_ = 0;
};

// A table whose rows run each on a machine of its own, named after the row.
template <typename Row>
class SandboxRows : public SandboxRun, public ::testing::WithParamInterface<Row> {};
const auto row_name = [](const auto& row) { return std::string(row.param.name); };

// A failure point: what `arrange` does to the arguments or the machine; standard error with the
// trace on: the stage lines reached, then the failure line's message ("fatal error" with status
// 101); the release steps as releases() names them; what the failure keeps (`left`, as
// left_behind() names it); the status.
struct FailureRow {
    const char* name;
    Arrange arrange;
    std::string stages = {}, released = {}, message;
    Strings left = {};
    int status = 126;
};

Arrange fails(const std::string& function, std::uint64_t result, sim::Dword error = 0,
              unsigned call = 1) {
    return [=](Strings&) { sim::inject(fault_on(function, result, error, call)); };
}

// The write of the trace line of a stage of the launch: the record's write comes first.
unsigned write_of(const std::string& stage) {
    return std::ranges::find(STAGES, stage) - STAGES.begin() + 2;
}

// The `at`-th argument names `path`, once `make` has made it.
Arrange naming(std::size_t at, const std::string& path, const std::function<void()>& make) {
    return [=](Strings& arguments) {
        make();
        arguments[at] = path;
    };
}

const std::string FAILED = "native sandbox failed: ", FATAL = "native sandbox fatal error: ";
const std::string INTERRUPTED = "sandbox run interrupted by a console control event";
const std::string NO_LETTER = "no DOS drive slot is available for the native sandbox";
const std::string OUT_OF_MEMORY =
    "Not enough memory resources are available to process this command. (os error 8)";
const std::string TRACE_WRITE = "cannot write stage trace to standard error: Win32 ";
const std::string ON_SHARE = "Windows sandbox mounts must use local drive paths";
const std::string PROTECTED = "sandbox mount covers a protected system or profile folder: ";
const std::string DENIED = "Access is denied. (os error 5)";
// The child's teardown, as when it ends by itself; before it, what a run holds once its record is
// written, and once it has its attribute list.
const std::string TORN_DOWN = "unlock attributes thread process job Y: Z: record sid";
const std::string RECORDED = "unlock Y: Z: record sid",
                  LISTED = "unlock attributes Y: Z: record sid";
const std::string UNCONTAINED = "unlock attributes terminate thread process Y: Z: record sid",
                  JOB_OPEN = "unlock attributes job terminate thread process Y: Z: record sid";
const std::string NOT_FOUND = "The system cannot find the file specified. (os error 2)";
const std::string ASSIGNING = trace("assign-job");
const std::string REPORT_WRITE = "cannot write report C:\\Work\\run.jsonl: ";

// A row on a line or two reads as a table; clang-format would give each field a line of its own.
// clang-format off
const FailureRow FAILURES[] = {
    {.name = "SidDerivation", .arrange = [](Strings&) {
         sim::inject(fault_on("CreateAppContainerProfile", ALREADY_EXISTS_HRESULT));
         sim::inject(fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057)); },
     .message = "cannot derive AppContainer SID: HRESULT 0x80070057"},
    // A trace line cut off after 9 bytes: the failure line starts a line of its own.
    {.name = "CutTraceLine", .arrange = [](Strings&) {
         sim::set_stderr(sim::StreamKind::Pipe, 0, 9);
         sim::inject(fault_on("WriteFile", 0, 232, 2)); },
     .stages = "sandbox-s\n", .released = "sid", .message = TRACE_WRITE + "232", .status = 101},
    {.name = "ProjectAclRead", .arrange = fails("GetNamedSecurityInfoW", 5),
     .stages = trace("project acl-read"), .released = "sid",
     .message = "cannot read ACL for " + PROJECT + ": Win32 5"},
    {.name = "ScratchAclMerge", .arrange = fails("SetEntriesInAclW", 87, 0, 2),
     .stages = trace("scratch acl-merge"), .released = "sid",
     .message = "cannot merge ACL for " + SCRATCH + ": Win32 87"},
    {.name = "ScratchAclSet", .arrange = fails("SetNamedSecurityInfoW", 5, 0, 2), .stages = GRANTED,
     .released = "sid", .message = "cannot set ACL for " + SCRATCH + ": Win32 5"},
    {.name = "ScratchInsideTheWindowsDirectory",
     .arrange = naming(3, "C:\\Windows\\Temp", [] { sim::make_directory("C:\\Windows\\Temp"); }),
     .released = "sid", .message = PROTECTED + "C:\\Windows\\Temp (inside the Windows directory)"},
    {.name = "ProjectOnAShare", .arrange = naming(1, "\\\\srv\\share\\dir", [] {
         sim::add_share("srv", "share");
         sim::make_directory("\\\\srv\\share\\dir"); }),
     .released = "sid",
     .message = ON_SHARE},
    // A record that this run has not written is never deleted: another run's, or one that a
    // later run recovers.
    {.name = "LockWait", .arrange = fails("WaitForMultipleObjects", WAIT_FAILED, 6),
     .stages = GRANTED, .released = "close-mutex sid",
     .message = "cannot acquire sandbox allocation lock: 4294967295"},
    {.name = "RecordPathUnreadable", .arrange = [](Strings&) {
         sim::inject(fault_for("CreateFileW", RECORD, 0, 5)); },
     .stages = GRANTED, .released = "unlock sid",
     .message = "cannot read mount record " + PLAIN_RECORD + ": " + DENIED},
    // The killed run's Y: cannot be looked at: both letters and its record stay for a later run
    // or the cleanup.
    {.name = "RecordLetterRefused", .arrange = [](Strings&) {
         killed_run();
         sim::inject(fault_for("QueryDosDeviceW", "Y:", 0, 5)); },
     .stages = GRANTED, .released = "unlock sid",
     .message = "cannot query the Y: definitions: Win32 5",
     .left = {"letter Y:", "letter Z:", "record"}},
    // Every letter down to D: but Z: taken (the project's scan and its message: the mount tests).
    {.name = "NoLetterForTheScratch", .arrange = [](Strings&) {
         for (char letter = 'D'; letter <= 'Y'; ++letter) {
             sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\Busy"); } },
     .stages = GRANTED,
     .released = "Z: unlock sid", .message = NO_LETTER},
    {.name = "RecordCreation", .arrange = [](Strings&) {
         sim::inject({.function = "CreateFileW", .call = 2, .argument = RECORD, .error = 5}); },
     .stages = GRANTED, .released = "Y: Z: unlock sid",
     .message = "cannot write sandbox mount record: " + DENIED},
    {.name = "EnvironmentWrite", .arrange = [](Strings&) {
         sim::inject(fault_for("SetEnvironmentVariableW", "TEMP", 0, 8)); },
     .stages = GRANTED, .released = RECORDED,
     .message = "failed to set environment variable \"TEMP\" to \"Y:\\\": " + OUT_OF_MEMORY,
     .status = 101},
    // A path of one name and more is looked for in the project, not left to the search.
    {.name = "ProgramMissing", .arrange = naming(9, ".\\missing.exe", [] {}), .stages = GRANTED,
     .released = RECORDED,
     .message = "cannot resolve sandbox program " + PROJECT + "\\missing.exe: " + NOT_FOUND},
    {.name = "HandleInheritance", .arrange = fails("SetHandleInformation", 0, 6), .stages = GRANTED,
     .released = RECORDED, .message = "cannot make standard handle inheritable: Win32 6"},
    {.name = "AttributeListSize", .arrange = fails("InitializeProcThreadAttributeList", 0, 87),
     .stages = GRANTED, .released = RECORDED,
     .message = "cannot size process attribute list: Win32 87"},
    {.name = "AppContainerAttribute", .arrange = fails("UpdateProcThreadAttribute", 0, 50),
     .stages = GRANTED, .released = LISTED,
     .message = "cannot apply AppContainer process attribute: Win32 50"},
    {.name = "ProcessCreation", .arrange = fails("CreateProcessW", 0, 2),
     .stages = trace("create-process"), .released = LISTED,
     .message = "cannot create AppContainer process: Win32 2"},
    // A write that takes nothing but reports success, leaving a stale last-error value.
    {.name = "CreateProcessLineTakesNothing",
     .arrange = fails("WriteFile", TRUE, 5, write_of("create-process")), .stages = GRANTED,
     .released = LISTED, .message = TRACE_WRITE + "29", .status = 101},
    {.name = "JobCreation", .arrange = fails("CreateJobObjectW", 0, 5), .stages = ASSIGNING,
     .released = UNCONTAINED, .message = "cannot create sandbox job: Win32 5"},
    {.name = "JobConfiguration", .arrange = fails("SetInformationJobObject", 0, 87),
     .stages = ASSIGNING, .released = JOB_OPEN,
     .message = "cannot configure sandbox job: Win32 87"},
    {.name = "JobAssignment", .arrange = fails("AssignProcessToJobObject", 0, 5),
     .stages = ASSIGNING,
     .released = "unlock attributes terminate thread process job Y: Z: record sid",
     .message = "cannot assign AppContainer process to job: Win32 5"},
    // Inside the job the child is ended by the job's close, not terminated, on every way out. The
    // thread's close, right after, fails too: the line keeps the resume's code.
    {.name = "Resume", .arrange = [](Strings&) {
         sim::inject(fault_on("ResumeThread", 0xFFFFFFFF, 5));
         sim::inject(fault_for("CloseHandle", "thread", 0, 6)); },
     .stages = trace("resume"), .released = TORN_DOWN,
     .message = "cannot resume AppContainer process: Win32 5", .left = {"handle thread"}},
    {.name = "ExitCodeRead", .arrange = fails("GetExitCodeProcess", 0, 6),
     .stages = trace("settled"), .released = TORN_DOWN,
     .message = "cannot read AppContainer exit code: Win32 6"},
    // The host's event, then its report, come before anything the run changes.
    {.name = "StopEventMissing",
     .arrange = with({"--report", "C:\\Work\\none\\run.jsonl", "--stop-event", HOST_STOP}),
     .message = "cannot open stop event Local\\host-stop: Win32 2"},
    {.name = "ReportFolderMissing", .arrange = with({"--report", "C:\\Work\\none\\run.jsonl"}),
     .message = "cannot create report C:\\Work\\none\\run.jsonl: " + NOT_FOUND},
    {.name = "ReportSid",
     .arrange = with({"--report", REPORT}, fails("ConvertSidToStringSidW", 0, 8)),
     .released = "sid", .message = "cannot convert AppContainer SID to text: Win32 8"},
    // A report that takes no more lines fails the run once it has torn down: here the child's
    // start, the write that the "wait" line would otherwise have.
    {.name = "ReportStartedLine",
     .arrange = with({"--report", REPORT}, fails("WriteFile", 0, 5, write_of("wait"))),
     .stages = trace("resume"), .released = TORN_DOWN, .message = REPORT_WRITE + DENIED},
};
// clang-format on

using FailurePoint = SandboxRows<FailureRow>;

// With the stage trace on, each failure's whole standard error: the stages it reached, then its
// one line.
TEST_P(FailurePoint, ReleasesInOrderAndLeavesNothing) {
    const FailureRow& row = GetParam();
    trace_on();
    Strings arguments = standard_arguments();
    row.arrange(arguments);
    EXPECT_EQ(run_with(arguments), row.status);
    EXPECT_EQ(sim::stderr_text(),
              row.stages + (row.status == 101 ? FATAL : FAILED) + row.message + "\n");
    EXPECT_EQ(releases(), row.released);
    EXPECT_EQ(left_behind(), row.left);
}

INSTANTIATE_TEST_SUITE_P(SandboxRun, FailurePoint, ::testing::ValuesIn(FAILURES), row_name);

// A failure each platform call may give: WAIT_FAILED or (DWORD)-1, the code that the security and
// profile functions return, else a handle or a count of 0, each with an error it may set.
sim::Fault failure_of(const std::string& function, unsigned call) {
    if (function.starts_with("WaitFor") || function == "ResumeThread") {
        return fault_on(function, WAIT_FAILED, 6, call);
    }
    const bool code = function.ends_with("SecurityInfoW") || function == "SetEntriesInAclW" ||
                      function == "RegGetValueW";
    const bool hresult = function.ends_with("AppContainerName") || function.ends_with("Profile");
    return fault_on(function, code ? 5 : (hresult ? 0x80070005 : 0),
                    function == "GetEnvironmentVariableW" ? 203 : 5, call);
}

// What a failed call leaves because it was the release of that very thing. The record cannot be
// deleted while its handle, the one closed right before the deletion, is open; a job that stays
// ends nothing: the child's descendant lives on in it.
Strings left_by(const std::string& call, bool closes_record = false) {
    const Strings words = split(call);
    const std::map<std::string, Strings> kept = {
        {"CloseHandle file",
         closes_record ? Strings{"record", "handle file"} : Strings{"handle file"}},
        {"CloseHandle job", {"handle job", "job", "process"}},
        {"DeleteFileW", {"record"}},
        {"FreeSid", {"sid"}},
        {"LocalFree", {"block"}},
        {"FreeEnvironmentStringsW", {"block"}}};
    const auto found = kept.find(words[0] == "CloseHandle" ? call : words[0]);
    if (found != kept.end()) {
        return found->second;
    }
    return words[0] == "CloseHandle"  ? Strings{"handle " + words[1]}
           : call.starts_with(REMOVE) ? Strings{"letter " + words[2]}
                                      : Strings{};
}

// Whether a run goes on when this call fails: the releases, the trace switch, the scan for a free
// letter, the wait for the child, the looks at the stop events (a failed look sees no stop) and
// the signal to a handler that waits for the teardown are not examined.
bool ignored(const std::string& call) {
    const std::string function = split(call)[0];
    return !left_by(call).empty() || function == "ReleaseMutex" ||
           function == "GetEnvironmentVariableW" || function.ends_with("DosDeviceW") ||
           function == "WaitForSingleObject" ||
           call.starts_with("WaitForMultipleObjects process") || function == "SetEvent" ||
           call == "SetConsoleCtrlHandler remove";
}

// Each platform call of a run that goes well, plain or driven by a host, made to fail in its
// turn: the run ends with 126, 101 or its child's code, writes at most one failure line, leaves
// only what the failed call was to release, and each directory carries the grant exactly when its
// write ran and succeeded. A driven run's report ends with the line of that status, unless the
// report itself failed.
// The failure lines that no failure row shows, by the call that fails and its turn in a plain run.
// clang-format off
const std::map<std::string, std::string> SWEPT_MESSAGES = {
    {"CreateEventW 1", "cannot create console control events"},
    {"SetConsoleCtrlHandler 1", "cannot install console control handler"},
    {"CreateMutexW 1", "cannot create sandbox allocation lock"},
    {"OpenProcessToken 1", "cannot secure sandbox mount record"},
    {"InitializeProcThreadAttributeList 2", "cannot initialize process attribute list"},
    {"UpdateProcThreadAttribute 2", "cannot apply handle list process attribute"},
    {"SetInformationJobObject 2", "cannot restrict sandbox job user interface"}};
// clang-format on

TEST_F(SandboxRun, EveryCallThatFailsLeavesNothingBehind) {
    for (const Strings& options : {Strings{}, DRIVEN}) {
        std::size_t messages = 0;
        fresh_machine();
        ASSERT_EQ(run_child(options), 0);
        // Without the entries of a SetEntriesInAclW call, in lines of their own.
        const Strings calls = journal_without({"SetEntriesInAclW entry"});
        std::map<std::string, unsigned> counts;
        for (auto at = calls.begin(); at != calls.end(); ++at) {
            const std::string& call = *at;
            const std::string function = split(call)[0];
            const unsigned nth = ++counts[function];
            // These return nothing to fail with.
            if (function == "DeleteProcThreadAttributeList" || function == "GetTickCount64") {
                continue;
            }
            SCOPED_TRACE(call + " #" + std::to_string(nth));
            fresh_machine();
            sim::inject(failure_of(function, nth));
            const int status = run_child(options);
            EXPECT_EQ(sim::pending_faults(), 0U);
            // After a failed wait the child may still run when its code is read: 259 reads as 125.
            const bool child_code = status == 0 || status == 125;
            EXPECT_EQ(child_code, ignored(call)) << status;
            EXPECT_TRUE(child_code || status == 126 || status == 101) << status;
            // A run that fails writes one failure line, a run that goes on none.
            EXPECT_EQ(split("\n" + sim::stderr_text(), "\nnative sandbox").size(),
                      child_code ? 1U : 2U);
            if (const auto message = SWEPT_MESSAGES.find(function + " " + std::to_string(nth));
                options.empty() && message != SWEPT_MESSAGES.end() && ++messages) {
                EXPECT_TRUE(sim::stderr_text().ends_with(FAILED + message->second + ": Win32 5\n"))
                    << sim::stderr_text();
            }
            EXPECT_EQ(left_behind(),
                      left_by(call, at + 1 != calls.end() &&
                                        at[1] == "DeleteFileW " + std::string(RECORD)));
            for (const std::string directory : {"C:\\Work\\Proj", "C:\\Work\\Scratch"}) {
                // The new entry comes first.
                const std::string set = "SetNamedSecurityInfoW " + directory + " 1 4";
                EXPECT_EQ(sim::dacl_entries(directory)->front().trustee ==
                              sim::app_container_sid("agent"),
                          call != set && std::ranges::count(sim::journal(), set) == 1)
                    << directory;
            }
            const Strings lines = split(sim::file_content(REPORT).value_or(""), "\n");
            if (sim::path_exists(REPORT) && !sim::stderr_text().contains("report ")) {
                ASSERT_GT(lines.size(), 1U);
                EXPECT_EQ(nlohmann::json::parse(lines.rbegin()[1])["status"], status);
            }
        }
        EXPECT_EQ(messages, options.empty() ? SWEPT_MESSAGES.size() : 0);
    }
}

// The calls whose order and arguments matter, in the order they must come, with whatever else
// between them (the teardown's are the release steps of the failure and event rows); the
// environment as the child inherits it.
TEST_F(SandboxRun, ChildRunsOnTheMountsWithTheRewrittenEnvironment) {
    EXPECT_EQ(run_child(), 0);
    // The teardown's calls are the release steps that the failure and event rows name.
    const Strings ordered = split(
        R"(CreateAppContainerProfile agent | agent | Norix isolated Agent process | null 0; )"
        R"(WaitForSingleObject event 0; GetNamedSecurityInfoW C:\Work\Proj 1 4; SetEntriesInAclW )"
        R"(entry FILE_GENERIC_READ|FILE_GENERIC_WRITE|FILE_GENERIC_EXECUTE|DELETE mode=1 )"
        R"(inherit=SUB_CONTAINERS_AND_OBJECTS_INHERIT form=0 type=2 multiple=0; )"
        R"(SetNamedSecurityInfoW C:\Work\Proj 1 4; WaitForSingleObject event 0; )"
        R"(GetNamedSecurityInfoW C:\Work\Scratch 1 4; SetNamedSecurityInfoW C:\Work\Scratch 1 4; )"
        R"(CreateMutexW Local\Norix.NativeSandbox.DriveAllocation; WaitForMultipleObjects event )"
        R"(mutex INFINITE; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_NO_BROADCAST_SYSTEM Z: )"
        R"(\??\C:\Work\Proj; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_NO_BROADCAST_SYSTEM Y: )"
        R"(\??\C:\Work\Scratch; CreateFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; )"
        R"(WriteFile file 43; ReleaseMutex; WaitForSingleObject event 0; SetEnvironmentVariableW )"
        R"(NORIX_PROJECT_ROOT=Z:\; CreateProcessW CREATE_SUSPENDED|EXTENDED_STARTUPINFO_PRESENT )"
        R"(inherit=1 start=STARTF_USESTDHANDLES capabilities=0 reserved=0 handles=3 )"
        R"(Z:\bin\tool.exe Z:\src\main.c; CreateJobObjectW; SetInformationJobObject 9 144 )"
        R"(JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE; SetInformationJobObject 4 4 )"
        R"(JOB_OBJECT_UILIMIT_HANDLES|JOB_OBJECT_UILIMIT_READCLIPBOARD|)"
        R"(JOB_OBJECT_UILIMIT_WRITECLIPBOARD|JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS|)"
        R"(JOB_OBJECT_UILIMIT_DISPLAYSETTINGS|JOB_OBJECT_UILIMIT_DESKTOP|)"
        R"(JOB_OBJECT_UILIMIT_EXITWINDOWS; AssignProcessToJobObject; WaitForSingleObject event 0; )"
        R"(ResumeThread; WaitForSingleObject process INFINITE; GetExitCodeProcess; SetEvent; )"
        R"(SetConsoleCtrlHandler remove)",
        "; ");
    auto from = sim::journal().begin();
    for (const auto& call : ordered) {
        from = std::ranges::find(from, sim::journal().end(), call);
        ASSERT_NE(from++, sim::journal().end()) << call;
    }
    EXPECT_EQ(sim::environment(),
              split(R"(=C:=Z: E=Z:\\src NORIX_PROJECT_ROOT=Z:\ NORIX_SANDBOX_TRACE= )"
                    R"(NORIX_SCRATCH_ROOT=Y:\ Path=Z:\bin;C:\Windows ProjectOld=C:\Work\Project2 )"
                    R"(SystemRoot=C:\Windows TEMP=Y:\ TMP=Y:\)"));
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("agent"));
}

// A host path in an argument and in a variable, with the project on Z: and the scratch directory
// on Y:, matched with case and separators as they are; a drive-root project ("C:\\") has ended its
// name, so another may follow it. Variables take escaped paths first ("C:\\w"), then plain ones,
// each time the project before the scratch directory; a value with an unpaired surrogate (read
// back as U+FFFD) stays.
TEST_F(SimulatedWindows, HostPathsInArgumentsAndVariablesBecomeTheMounts) {
    const std::tuple<const char*, const char*, std::string, std::string, std::string> cases[] = {
        // project, scratch, text, argument, variable
        {"C:\\w", "C:\\w\\s", "C:\\w\\s\\f;C:\\w\\a;c:\\w\\b", "Z:\\s\\f;Z:\\a;c:\\w\\b",
         "Z:\\s\\f;Z:\\a;c:\\w\\b"},
        {"C:\\w", "C:\\w\\s", "C:\\\\w\\\\s\\\\f", "C:\\\\w\\\\s\\\\f", "Z:\\\\s\\\\f"},
        {"C:\\w", "C:\\w\\s", "C:\\w\\x\xED\xA0\x80", "Z:\\x\xED\xA0\x80", "C:\\w\\x\xEF\xBF\xBD"},
        {"C:\\", "D:\\s", "C:\\x;C:/x;D:\\s\\f", "Z:x;C:/x;Y:\\f", "Z:x;C:/x;Y:\\f"},
        {"C:\\", "D:\\s", "C:\\\\x", "Z:\\x", "Z:x"},
    };
    for (const auto& [project, scratch, text, argument, variable] : cases) {
        const SandboxRequest request{.project = to_wide(std::string("\\\\?\\") + project),
                                     .scratch = to_wide(std::string("\\\\?\\") + scratch),
                                     .arguments = {text, ""}};
        const SandboxMounts mounts = sandbox_mounts(request, "Z:\\", "Y:\\");
        EXPECT_EQ(translate_arguments(request, mounts), (Strings{argument, ""})) << text;
        sim::set_environment({"V=" + text});
        rewrite_environment(mounts);
        EXPECT_EQ(sim::environment(), Strings{"V=" + variable}) << text;
    }
}

// Null and INVALID_HANDLE_VALUE stay out of the list, a shared handle is listed once; with no
// valid handle there is neither a list nor inheritance.
TEST_F(SandboxRun, OnlyTheValidStandardHandlesCrossEachOnce) {
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    EXPECT_EQ(run_with(standard_arguments()), 0);
    SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
    sim::set_stderr(std::nullopt);
    EXPECT_EQ(run_with(standard_arguments()), 0);
    // The AppContainer's attribute, and the handle list with one handle; then the first alone.
    EXPECT_EQ(joined(sim::journal_of("UpdateProcThreadAttribute")),
              "UpdateProcThreadAttribute 0x20009 24; UpdateProcThreadAttribute 0x20002 8; "
              "UpdateProcThreadAttribute 0x20009 24");
    const Strings launches = sim::journal_of("CreateProcessW");
    EXPECT_TRUE(launches.at(0).contains(" inherit=1 ") && launches[0].contains(" handles=1 "));
    EXPECT_TRUE(launches.at(1).contains(" inherit=0 ") && !launches[1].contains("handles="));
}

TEST_F(SandboxRun, ExitCodesPassBackOrFallBack) {
    // A crash code (0xC0000005 reads as 125): the host-channel rows.
    const std::pair<sim::Dword, int> codes[] = {{255, 255}, {256, 125}, {259, 125}, {126, 126}};
    for (const auto& [child, status] : codes) {
        exit_code_ = child;
        EXPECT_EQ(run_with(standard_arguments()), status) << child;
    }
}

// What a killed run leaves at the record path, or a record that no launcher holds there: a
// record's letters are removed where they still map onto its targets, and the trace and the report
// say so; anything else goes unread. Either way the run writes its own record there and deletes it
// at its end. (Links and a second name there: the end-to-end test.)
const std::string RECOVERED =
    R"({"event":"recovered","record":"C:\\Work\\.Scratch.norix-native-sandbox-mounts","letters":[)"
    R"({"drive":"Z:","target":"\\??\\C:\\Work\\Proj","outcome":"removed"},{"drive":"Y:",)"
    R"("target":"\\??\\C:\\Work\\Scratch","outcome":"removed"}]})";

TEST_F(SandboxRun, RecordPathIsClearedOfWhatNoLauncherHolds) {
    // A record that a child could have written, naming another run's project letter.
    const std::string planted = std::string("X:\0\\??\\C:\\Work\\Other\0W:\0", 24);
    const std::string other = "X:\\??\\C:\\Work\\Other";
    struct Row {
        const char* name;
        std::string record;
        Strings letters = {};   // defined before the run: "Z:" and its target
        bool recovered = false; // a killed run's record, its letters removed
        Strings left = {};
    };
    // A row on a line or two reads as a table; clang-format would give each field a line of its
    // own.
    // clang-format off
    const Row rows[] = {
        {.name = "KilledRun", .record = KILLED,
         .letters = {"Z:\\??\\C:\\Work\\Proj", "Y:\\??\\C:\\Work\\Scratch"}, .recovered = true},
        {.name = "CutShort", .record = KILLED.substr(0, 20)},
        // Planted beside a scratch letter that is gone, or one of another directory.
        {.name = "ScratchLetterGone", .record = planted + "\\??\\C:\\Work\\Scratch" + '\0',
         .letters = {other}, .left = {"letter X:"}},
        {.name = "OtherScratch", .record = planted + "\\??\\C:\\Work\\Elsewhere" + '\0',
         .letters = {other, "W:\\??\\C:\\Work\\Scratch"}, .left = {"letter W:", "letter X:"}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fresh_machine();
        host_stop_event();
        sim::make_file(PLAIN_RECORD, row.record);
        for (const auto& letter : row.letters) {
            sim::define_dos_device(letter.substr(0, 2), letter.substr(2));
        }
        std::optional<std::string> record_in_run;
        use_program([&](const sim::ChildView&) {
            record_in_run = sim::file_content(PLAIN_RECORD);
            return sim::Dword{0};
        });
        trace_on();
        Strings arguments = standard_arguments();
        with(DRIVEN)(arguments);
        EXPECT_EQ(run_with(arguments), 0);
        const auto first = nlohmann::json::parse(split(*sim::file_content(REPORT), "\n")[0]);
        EXPECT_EQ(first, row.recovered ? nlohmann::json::parse(RECOVERED) : first);
        EXPECT_EQ(first["event"] == "recovered", row.recovered);
        const std::string trace = sim::stderr_text();
        EXPECT_EQ(trace.substr(0, trace.find("sandbox-stage=create-process")),
                  GRANTED + (row.recovered
                                 ? "sandbox-stage=recover-record path=" + std::string(RECORD) + "\n"
                                 : ""));
        EXPECT_EQ(record_in_run, KILLED);
        EXPECT_EQ(left_behind(), row.left);
    }
}

// Two runs on one scratch directory: the second rewrites the record of the first, still running,
// for its own letters and leaves the first's letters alone; the first run's end deletes it.
TEST_F(SandboxRun, RecordOfARunningLauncherIsLeftToIt) {
    std::atomic<bool> first_waits = true;
    std::atomic<int> children = 0;
    use_program([&](const sim::ChildView&) {
        for (const bool first = children++ == 0; first && first_waits;) {
            std::this_thread::yield();
        }
        return sim::Dword{0};
    });
    std::thread running([&] {
        const sim::ProcessScope scope(sim::start_launcher());
        EXPECT_EQ(run_with(standard_arguments()), 0);
    });
    while (children == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(run_with(standard_arguments()), 0);
    EXPECT_EQ(sim::file_content(PLAIN_RECORD),
              std::string("X:\0\\??\\C:\\Work\\Proj\0W:\0\\??\\C:\\Work\\Scratch\0", 43));
    EXPECT_EQ(sim::defined_letters(), (Strings{"Y:", "Z:"}));
    first_waits = false;
    running.join();
    EXPECT_EQ(left_behind(), Strings{});
}

// The lock of a launcher that died is taken over; the journal shows it given up before the child.
TEST_F(SandboxRun, LockIsTakenOverFromADeadLauncher) {
    const sim::Dword dead = hold_the_lock();
    int status = -1;
    std::thread waiting([&] { status = run_with(standard_arguments()); });
    await_call("WaitForMultipleObjects"); // without a time limit, until the holder dies
    sim::end_launcher(dead);
    waiting.join();
    EXPECT_EQ(status, 0);
}

// What the child does: exit at once with the machine's code, or, once the run has had its look
// at the stop after the resume, exit with 7, send the event itself, or ignore events and then
// send one.
enum class Child { Exits, WaitsForTheRun, SendsTheEvent, IgnoresEventsAndSendsOne };

// Where console events come from: after the given calls of `after` (one event each), from another
// thread while the run waits for the lock that another launcher holds, or from the child. The
// status after Ctrl+C or Ctrl+Break and the release steps; after the events that end the launcher
// (a closed console, logoff, shutdown), where they differ, the status and how the job's processes
// were ended (the journal's TerminateJobObject lines).
struct EventRow {
    const char* name;
    std::pair<std::string, std::vector<unsigned>> after = {};
    bool while_locked = false;
    Child child = Child::Exits;
    int status;
    std::string released;
    std::optional<int> ending_status = {};
    std::optional<std::string> ending_job_end = {};
};

// A row on a line or two reads as a table; clang-format would give each field a line of its own.
// clang-format off
const EventRow EVENTS[] = {
    // The stop event comes first in the wait: with both set, the lock is not taken.
    {.name = "BeforeTheWaitForTheLock", .after = {"CreateMutexW", {1}}, .status = 126,
     .released = "close-mutex sid"},
    {.name = "WhileWaitingForTheLock", .while_locked = true, .status = 126,
     .released = "close-mutex sid"},
    // Under the lock, and again in the teardown that follows.
    {.name = "UnderTheLockAndInTheTeardown", .after = {"DefineDosDeviceW", {2, 3}}, .status = 126,
     .released = RECORDED},
    // A child not yet resumed has not seen the event: the job ends it.
    {.name = "BeforeTheResume", .after = {"AssignProcessToJobObject", {1}}, .status = 126,
     .released = TORN_DOWN},
    // After the last look before the resume: the child, not yet running, missed the event, so the
    // run ends it as the event would have.
    {.name = "AfterTheLastLookBeforeTheResume", .after = {"WaitForSingleObject", {4}},
     .child = Child::WaitsForTheRun, .status = 125, .released = TORN_DOWN,
     .ending_job_end = "TerminateJobObject 0xc000013a; TerminateJobObject 0xc000013a"},
    {.name = "FromTheChild", .child = Child::SendsTheEvent, .status = 125, .released = TORN_DOWN},
    // The launcher's handler ends the job all the same after the events that end the launcher.
    {.name = "FromAChildThatIgnoresIt", .child = Child::IgnoresEventsAndSendsOne, .status = 7,
     .released = TORN_DOWN, .ending_status = 125,
     .ending_job_end = "TerminateJobObject 0xc000013a"},
    {.name = "InTheTeardown", .after = {"DefineDosDeviceW", {3}}, .status = 0,
     .released = TORN_DOWN},
};
// clang-format on

using ConsoleEvents = SandboxRows<std::tuple<EventRow, sim::Dword>>;

// Before the child is resumed a console event stops the run, which releases what it holds as
// after any failure; once the child runs, the child decides and the launcher waits for it. After
// an event that ends the launcher, the handler ends the child's tree (0xC000013A) and waits for
// the teardown: nothing is left at the moment Windows would end the launcher. A second event, or
// one during the teardown, releases nothing twice and cuts nothing short.
TEST_P(ConsoleEvents, StopTheRunOrLeaveItToTheChild) {
    const EventRow& row = std::get<0>(GetParam());
    const sim::Dword event = std::get<1>(GetParam());
    // A closed console, logoff and shutdown end the launcher; Ctrl+C and Ctrl+Break do not.
    const bool ending = event >= CTRL_CLOSE_EVENT;
    int ends = 0;
    const auto at_end = [&ends] {
        ++ends;
        EXPECT_EQ(sim::defined_letters(), Strings{});
        EXPECT_FALSE(sim::path_exists(RECORD));
        EXPECT_EQ(sim::live_processes(), std::vector<sim::Dword>{});
    };
    for (const unsigned call : row.after.second) {
        sim::send_console_event_after(row.after.first, call, event, at_end);
    }
    if (row.child != Child::Exits) {
        use_program([&](const sim::ChildView&) {
            if (row.child == Child::IgnoresEventsAndSendsOne) {
                sim::ignore_console_events();
            }
            await_call("WaitForSingleObject process");
            if (row.child != Child::WaitsForTheRun) {
                sim::send_console_event(event, at_end);
            }
            return sim::Dword{7};
        });
    }
    if (row.while_locked) {
        hold_the_lock();
    }
    int got = -1;
    std::thread run([&] { got = run_with(standard_arguments()); });
    if (row.while_locked) {
        await_call("WaitForMultipleObjects");
        sim::send_console_event(event, at_end);
    }
    run.join();
    sim::finish_console_events();
    EXPECT_EQ(got, ending ? row.ending_status.value_or(row.status) : row.status);
    EXPECT_EQ(sim::stderr_text(), got == 126 ? "native sandbox failed: " + INTERRUPTED + "\n" : "");
    EXPECT_EQ(releases(), row.released);
    EXPECT_EQ(ends, ending ? std::max<std::size_t>(row.after.second.size(), 1) : 0);
    if (ending && row.ending_job_end) {
        EXPECT_EQ(joined(sim::journal_of("TerminateJobObject")), *row.ending_job_end);
    }
    EXPECT_EQ(left_behind(), Strings{});
}

const auto event_row_name = [](const auto& row) {
    const char* const events[] = {"CtrlC", "CtrlBreak", "Close", "", "", "Logoff", "Shutdown"};
    return std::get<0>(row.param).name + std::string(events[std::get<1>(row.param)]);
};

INSTANTIATE_TEST_SUITE_P(SandboxRun, ConsoleEvents,
                         ::testing::Combine(::testing::ValuesIn(EVENTS),
                                            ::testing::Values(CTRL_C_EVENT, CTRL_BREAK_EVENT,
                                                              CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
                                                              CTRL_SHUTDOWN_EVENT)),
                         event_row_name);

// A run that a host drives with a report, a time limit of 5 s and its stop event: what the
// host's `arrange` does (to its event, if need be), the status and the report's closing line. The
// report has a started line exactly when the child was resumed, and the clock starts there.
struct HostRow {
    const char* name;
    std::function<void(HANDLE stop)> arrange;
    int status;
    std::string closing;
};

using HostChannel = SandboxRows<HostRow>;

const std::string FAILED_EVENT = R"({"event":"failed","status":126,"message":")";

// A row on a line or two reads as a table; clang-format would give each field a line of its own.
// clang-format off
const HostRow HOST_ROWS[] = {
    {.name = "Exited",
     .arrange = [](HANDLE) { use_program([](const sim::ChildView&) { return 0xC0000005U; }); },
     .status = 125, .closing = R"({"event":"exited","exit_code":3221225477,"status":125})"},
    {.name = "StoppedBeforeTheGrants", .arrange = [](HANDLE stop) { SetEvent(stop); },
     .status = 126, .closing = R"({"event":"interrupted","status":126,"stage":null})"},
    {.name = "ChildCreation",
     .arrange = [](HANDLE) { sim::inject(fault_on("CreateProcessW", 0, 2)); },
     .status = 126,
     .closing = FAILED_EVENT + R"(cannot create AppContainer process: Win32 2","stage":)"
                R"("create-process","win32":2,"program":"Z:\\bin\\tool.exe",)"
                R"("system_message":"The system cannot find the file specified."})"},
    {.name = "ProfileCreation",
     .arrange = [](HANDLE) { sim::inject(fault_on("CreateAppContainerProfile", 0x8007000E)); },
     .status = 126,
     .closing = FAILED_EVENT + R"(cannot create AppContainer profile: HRESULT 0x8007000e",)"
                R"("stage":null,"hresult":2147942414})"},
    {.name = "FatalStop",
     .arrange = [](HANDLE) { sim::inject(fault_on("GetEnvironmentStringsW", 0, 8)); },
     .status = 101,
     .closing = R"({"event":"failed","status":101,"message":"failure getting env string )"
                R"(from OS: )" +
                OUT_OF_MEMORY + R"(","stage":"acl-done"})"},
};
// clang-format on

TEST_P(HostChannel, ReportTellsHowTheRunEnded) {
    const HostRow& row = GetParam();
    row.arrange(host_stop_event());
    Strings arguments = standard_arguments();
    with(DRIVEN)(arguments);
    EXPECT_EQ(run_with(arguments), row.status);
    sim::finish_console_events();
    const Strings text = split(sim::file_content(REPORT).value_or(""), "\n");
    ASSERT_EQ(text.back(), ""); // every line ends with a line feed
    const bool resumed = sim::journal_of("ResumeThread").size() == 1;
    ASSERT_EQ(text.size(), resumed ? 3U : 2U);
    const auto closing = nlohmann::json::parse(text.rbegin()[1]);
    EXPECT_EQ(closing, nlohmann::json::parse(row.closing));
    if (resumed) {
        EXPECT_EQ(nlohmann::json::parse(text[0]),
                  nlohmann::json::parse(
                      R"({"event":"started","launcher_pid":1,"child_pid":101,"sid":")" +
                      sim::app_container_sid("agent") +
                      R"(","mounts":[{"role":"project","drive":"Z:","directory":"C:\\Work\\Proj"},)"
                      R"({"role":"scratch","drive":"Y:","directory":"C:\\Work\\Scratch"}]})"));
    }
    // The clock starts there.
    EXPECT_EQ(std::ranges::find(sim::journal(), "GetTickCount64") >
                  std::ranges::find(sim::journal(), "ResumeThread"),
              resumed);
    EXPECT_EQ(left_behind(), Strings{});
}

INSTANTIATE_TEST_SUITE_P(SandboxRun, HostChannel, ::testing::ValuesIn(HOST_ROWS), row_name);

// A report lies outside both directories, compared by whole names without regard to case, with
// every link followed; none is made, or left, inside them, and a file there is not emptied.
TEST_F(SimulatedWindows, ReportLiesOutsideTheMounts) {
    for (const char* directory : {"C:\\Work\\Proj\\sub", "C:\\Work\\Scratch", "C:\\Work\\Proj2"}) {
        sim::make_directory(directory);
    }
    sim::make_file("C:\\Work\\Proj\\kept.txt", "kept");
    sim::make_file("C:\\Work\\old.jsonl", "an earlier run's line\n");
    sim::make_junction("C:\\Work\\Into", "C:\\Work\\Scratch");
    sim::make_symlink("C:\\Work\\new.jsonl", "C:\\Work\\Proj\\new.jsonl");
    sim::make_symlink("C:\\Work\\kept.jsonl", "C:\\Work\\Proj\\kept.txt");
    const SandboxRequest request{.project = to_wide("\\\\?\\c:\\WORK\\proj"),
                                 .scratch = to_wide("\\\\?\\C:\\Work\\Scratch")};
    for (const std::string name : {"Proj\\sub\\r", "Into\\r", "new", "kept", "Proj2\\r", "old"}) {
        const std::string path = "C:\\Work\\" + name + ".jsonl";
        const auto report = RunReport::create(path, request);
        EXPECT_EQ(report ? "" : report.error().message,
                  name.starts_with("Proj2") || name == "old"
                      ? ""
                      : "report must lie outside the project and scratch directories: " + path);
    }
    // A drive's root is that root, not the drive's current directory.
    sim::set_current_directory("C:\\Work\\Proj");
    EXPECT_TRUE(RunReport::create("C:\\r.jsonl", request));
    EXPECT_FALSE(sim::path_exists("C:\\Work\\Proj\\sub\\r.jsonl") ||
                 sim::path_exists("C:\\Work\\Proj\\new.jsonl"));
    EXPECT_EQ(sim::file_content("C:\\Work\\Proj\\kept.txt"), "kept");
    EXPECT_EQ(sim::file_content("C:\\Work\\old.jsonl"), "");
    EXPECT_EQ(sim::open_handles(), Strings{});
}

} // namespace
