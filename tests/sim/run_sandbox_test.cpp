// Whole runs through the process entry: every failure point with its line, status, release order
// and nothing left behind; what a run gives the child; runs that meet other launchers.
#include "cleanup/cleanup_process.hpp"
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
const std::string LONG_PROJECT =
    "\\\\?\\C:\\Work\\" + std::string(150, 'p') + "\\" + std::string(150, 'q');

Strings standard_arguments() {
    return split("--project C:\\Work\\Proj --scratch C:\\Work\\Scratch --profile agent --network "
                 "deny -- bin\\tool.exe C:\\Work\\Proj\\src\\main.c");
}

int run_with(const Strings& arguments) {
    return run_process(to_wide(build_command_line("norix-native-sandbox.exe", arguments)));
}

// The steps that release what a run holds, in the order taken: "unlock" (the lock released and
// closed), "close-mutex" (its handle alone), "attributes" (the attribute list), "terminate" (the
// child ended), the "thread", "process" and "job" handles closed, the letters "Y:" and "Z:"
// removed, the "record" deleted, the "sid" freed.
std::string releases() {
    const Strings calls =
        split("ReleaseMutex;CloseHandle mutex;DeleteProcThreadAttributeList;"
              "TerminateProcess 1;CloseHandle thread;CloseHandle process;"
              "CloseHandle job;DefineDosDeviceW "
              "DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|DDD_EXACT_MATCH_ON_REMOVE|DDD_NO_"
              "BROADCAST_SYSTEM Y: \\??\\C:\\Work\\Scratch;"
              "DefineDosDeviceW "
              "DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|DDD_EXACT_MATCH_ON_REMOVE|DDD_NO_"
              "BROADCAST_SYSTEM Z: \\??\\C:\\Work\\Proj;DeleteFileW " +
                  std::string(RECORD) + ";FreeSid",
              ";");
    const Strings steps =
        split("unlock close-mutex attributes terminate thread process job Y: Z: record sid");
    std::string released;
    for (const auto& line : sim::journal()) {
        const auto found = std::ranges::find(calls, line) - calls.begin();
        if (found < 11 && !(found == 1 && released.ends_with("unlock"))) {
            released += (released.empty() ? "" : " ") + steps[found];
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

// Their trace up to the line named `last`, the project at `project`.
std::string trace(const std::string& last, const std::string& project = "\\\\?\\C:\\Work\\Proj") {
    std::string text;
    for (std::size_t at = 0; at == 0 || STAGES[at - 1] != last; ++at) {
        const Strings words = split(STAGES.at(at));
        const std::string path = words[0] == "project" ? project : "\\\\?\\C:\\Work\\Scratch";
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

// What standard error holds before the failure line, the release steps as releases() names them,
// the failure line's message and the status.
struct FailureRow {
    const char* name;
    Arrange arrange;
    std::string before, released, message;
    int status = 126;
};

Arrange fails(std::string function, std::uint64_t result, sim::Dword error = 0, unsigned call = 1) {
    return [=](Strings&) { sim::inject(fault_on(function, result, error, call)); };
}

// The write of the trace line of a stage of the launch: the record's write comes first.
unsigned write_of(const std::string& stage) {
    return std::ranges::find(STAGES, stage) - STAGES.begin() + 2;
}

Arrange letters_taken(char last) {
    return [last](Strings&) {
        for (char letter = 'D'; letter <= last; ++letter) {
            sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\Busy");
        }
    };
}

// The `at`-th argument names `path`, once `make` has made it.
Arrange naming(std::size_t at, const std::string& path, const std::function<void()>& make) {
    return [=](Strings& arguments) {
        make();
        arguments[at] = path;
    };
}

const std::string SHARED = "\\\\srv\\share\\dir";
void make_share() {
    sim::add_share("srv", "share");
    sim::make_directory(SHARED);
}

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

const FailureRow FAILURES[] = {
    {"EventCreation", fails("CreateEventW", 0, 8, 2), "", "",
     "cannot create console control events: Win32 8"},
    {"HandlerInstall", fails("SetConsoleCtrlHandler", 0, 8), "", "",
     "cannot install console control handler: Win32 8"},
    {"ProfileCreation", fails("CreateAppContainerProfile", 0x800700AA), "", "",
     "cannot create AppContainer profile: HRESULT 0x800700aa"},
    // The profile exists already: its SID is derived from the name.
    {"SidDerivation",
     [](Strings&) {
         sim::inject(fault_on("CreateAppContainerProfile", ALREADY_EXISTS_HRESULT));
         sim::inject(fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057));
     },
     "", "", "cannot derive AppContainer SID: HRESULT 0x80070057"},
    // A trace line cut off after 9 bytes: the failure line starts a line of its own.
    {"CutTraceLine",
     [](Strings&) {
         sim::set_stderr(sim::StreamKind::Pipe, 0, 9);
         sim::inject(fault_on("WriteFile", 0, 232, 2));
     },
     "sandbox-s\n", "sid", TRACE_WRITE + "232", 101},
    {"ProjectAclRead", fails("GetNamedSecurityInfoW", 5), trace("project acl-read"), "sid",
     "cannot read ACL for \\\\?\\C:\\Work\\Proj: Win32 5"},
    // The grant names even a verbatim path without "\\?\", which reaches a long one only where
    // Windows allows long paths to a long-path aware process.
    {"LongProjectPath",
     naming(1, LONG_PROJECT, [] { sim::make_directory(LONG_PROJECT.substr(4)); }),
     trace("project acl-read", LONG_PROJECT), "sid",
     "cannot read ACL for " + LONG_PROJECT + ": Win32 3"},
    {"ScratchAclMerge", fails("SetEntriesInAclW", 87, 0, 2), trace("scratch acl-merge"), "sid",
     "cannot merge ACL for \\\\?\\C:\\Work\\Scratch: Win32 87"},
    {"ScratchAclSet", fails("SetNamedSecurityInfoW", 5, 0, 2), GRANTED, "sid",
     "cannot set ACL for \\\\?\\C:\\Work\\Scratch: Win32 5"},
    {"ScratchOnADriveRoot", naming(3, "S:\\", [] { sim::add_volume('S'); }), "", "sid",
     "sandbox scratch path has no parent"},
    {"ProjectIsTheUserProfile", naming(1, "C:\\Users\\me", [] {}), "", "sid",
     PROTECTED + "C:\\Users\\me (the calling user's profile)"},
    {"ScratchInsideTheWindowsDirectory",
     naming(3, "C:\\Windows\\Temp", [] { sim::make_directory("C:\\Windows\\Temp"); }), "", "sid",
     PROTECTED + "C:\\Windows\\Temp (inside the Windows directory)"},
    {"ProjectOnAShare", naming(1, SHARED, make_share), "", "sid", ON_SHARE},
    {"ScratchOnAShare", naming(3, SHARED, make_share), "", "sid", ON_SHARE},
    // A record that this run has not written is never deleted: another run's, or one that a
    // later run recovers.
    {"LockCreation", fails("CreateMutexW", 0, 5), GRANTED, "sid",
     "cannot create sandbox allocation lock: Win32 5"},
    {"LockWait", fails("WaitForMultipleObjects", WAIT_FAILED, 6), GRANTED, "close-mutex sid",
     "cannot acquire sandbox allocation lock: 4294967295"},
    {"RecordPathUnreadable", [](Strings&) { sim::inject(fault_for("CreateFileW", RECORD, 0, 5)); },
     GRANTED, "unlock sid",
     "cannot read mount record " + std::string(RECORD).substr(4) +
         ": Access is denied. (os error 5)"},
    {"NoLetterForTheProject", letters_taken('Z'), GRANTED, "unlock sid", NO_LETTER},
    {"NoLetterForTheScratch", letters_taken('Y'), GRANTED, "Z: unlock sid", NO_LETTER},
    {"RecordSecurity", fails("OpenProcessToken", 0, 5), GRANTED, "Y: Z: unlock sid",
     "cannot secure sandbox mount record: Win32 5"},
    {"RecordCreation",
     [](Strings&) {
         sim::inject({.function = "CreateFileW", .call = 2, .argument = RECORD, .error = 5});
     },
     GRANTED, "Y: Z: unlock sid",
     "cannot write sandbox mount record: Access is denied. (os error 5)"},
    {"EnvironmentRead", fails("GetEnvironmentStringsW", 0, 8), GRANTED, RECORDED,
     "failure getting env string from OS: " + OUT_OF_MEMORY, 101},
    {"EnvironmentWrite",
     [](Strings&) { sim::inject(fault_for("SetEnvironmentVariableW", "TEMP", 0, 8)); }, GRANTED,
     RECORDED, "failed to set environment variable \"TEMP\" to \"Y:\\\": " + OUT_OF_MEMORY, 101},
    // A path of one name and more is looked for in the project, not left to the search.
    {"ProgramMissing", naming(9, ".\\missing.exe", [] {}), GRANTED, RECORDED,
     "cannot resolve sandbox program \\\\?\\C:\\Work\\Proj\\missing.exe: The system cannot "
     "find the file specified. (os error 2)"},
    {"HandleInheritance", fails("SetHandleInformation", 0, 6), GRANTED, RECORDED,
     "cannot make standard handle inheritable: Win32 6"},
    {"AttributeListSize", fails("InitializeProcThreadAttributeList", 0, 87), GRANTED, RECORDED,
     "cannot size process attribute list: Win32 87"},
    {"AttributeListInit", fails("InitializeProcThreadAttributeList", 0, 8, 2), GRANTED, RECORDED,
     "cannot initialize process attribute list: Win32 8"},
    {"AppContainerAttribute", fails("UpdateProcThreadAttribute", 0, 50), GRANTED, LISTED,
     "cannot apply AppContainer process attribute: Win32 50"},
    {"HandleListAttribute", fails("UpdateProcThreadAttribute", 0, 87, 2), GRANTED, LISTED,
     "cannot apply handle list process attribute: Win32 87"},
    {"ProcessCreation", fails("CreateProcessW", 0, 2), trace("create-process"), LISTED,
     "cannot create AppContainer process: Win32 2"},
    {"CreateProcessLine", fails("WriteFile", 0, 232, write_of("create-process")), GRANTED, LISTED,
     TRACE_WRITE + "232", 101},
    // A write that takes nothing but reports success, leaving a stale last-error value.
    {"CreateProcessLineTakesNothing", fails("WriteFile", TRUE, 5, write_of("create-process")),
     GRANTED, LISTED, TRACE_WRITE + "29", 101},
    {"JobCreation", fails("CreateJobObjectW", 0, 5), trace("assign-job"),
     "unlock attributes terminate thread process Y: Z: record sid",
     "cannot create sandbox job: Win32 5"},
    {"JobCreationInvalidHandle", fails("CreateJobObjectW", ~0ULL, 6), trace("assign-job"),
     "unlock attributes terminate thread process Y: Z: record sid",
     "cannot create sandbox job: Win32 6"},
    {"JobConfiguration", fails("SetInformationJobObject", 0, 87), trace("assign-job"),
     "unlock attributes job terminate thread process Y: Z: record sid",
     "cannot configure sandbox job: Win32 87"},
    {"JobUserInterface", fails("SetInformationJobObject", 0, 5, 2), trace("assign-job"),
     "unlock attributes job terminate thread process Y: Z: record sid",
     "cannot restrict sandbox job user interface: Win32 5"},
    {"JobAssignment", fails("AssignProcessToJobObject", 0, 5), trace("assign-job"),
     "unlock attributes terminate thread process job Y: Z: record sid",
     "cannot assign AppContainer process to job: Win32 5"},
    // Inside the job the child is ended by the job's close, not terminated, on every way out.
    {"ResumeLine", fails("WriteFile", 0, 232, write_of("resume")), trace("assign-job"), TORN_DOWN,
     TRACE_WRITE + "232", 101},
    {"Resume", fails("ResumeThread", 0xFFFFFFFF, 5), trace("resume"), TORN_DOWN,
     "cannot resume AppContainer process: Win32 5"},
    {"ExitCodeRead", fails("GetExitCodeProcess", 0, 6), trace("settled"), TORN_DOWN,
     "cannot read AppContainer exit code: Win32 6"},
    // The host's event and its report come before anything the run changes.
    {"StopEventMissing", with({"--stop-event", HOST_STOP}), "", "",
     "cannot open stop event Local\\host-stop: Win32 2"},
    {"ReportFolderMissing", with({"--report", "C:\\Work\\none\\run.jsonl"}), "", "",
     "cannot create report C:\\Work\\none\\run.jsonl: The system cannot find the file "
     "specified. (os error 2)"},
    {"ReportSid", with({"--report", REPORT}, fails("ConvertSidToStringSidW", 0, 8)), "", "sid",
     "cannot convert AppContainer SID to text: Win32 8"},
    // A report that takes no more lines fails the run once it has torn down: the child's start
    // (the write that the "wait" line would otherwise have), or the run's end.
    {"ReportStartedLine", with({"--report", REPORT}, fails("WriteFile", 0, 5, write_of("wait"))),
     trace("resume"), TORN_DOWN, "cannot write report C:\\Work\\run.jsonl: " + DENIED},
    {"ReportClosingLine", with({"--report", REPORT}, fails("FlushFileBuffers", 0, 5, 2)),
     trace("settled"), TORN_DOWN, "cannot write report C:\\Work\\run.jsonl: " + DENIED},
};

using FailurePoint = SandboxRows<FailureRow>;

// With the stage trace on, each failure's whole standard error: the stages it reached, then its
// one line.
TEST_P(FailurePoint, ReleasesInOrderAndLeavesNothing) {
    const FailureRow& row = GetParam();
    trace_on();
    Strings arguments = standard_arguments();
    row.arrange(arguments);
    EXPECT_EQ(run_with(arguments), row.status);
    const std::string failed = row.status == 101 ? "fatal error: " : "failed: ";
    EXPECT_EQ(sim::stderr_text(), row.before + "native sandbox " + failed + row.message + "\n");
    EXPECT_EQ(releases(), row.released);
    EXPECT_EQ(left_behind(), Strings{});
    // Every access list written shows in the trace: a run refused before its grants wrote none.
    EXPECT_EQ(sim::journal_of("SetNamedSecurityInfoW").size(),
              split(sim::stderr_text(), "sandbox-stage=acl-set").size() - 1);
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
// deleted while its handle, the one closed right before the deletion, is open.
Strings left_by(const std::string& call, bool closes_record = false) {
    const Strings words = split(call);
    if (call == "CloseHandle file" && closes_record) {
        return {"record", "handle file"};
    }
    if (words[0] == "CloseHandle") {
        // A job that stays ends nothing: the child's descendant lives on in it.
        return words[1] == "job" ? Strings{"handle job", "job", "process"}
                                 : Strings{"handle " + words[1]};
    }
    if (call.starts_with("DefineDosDeviceW "
                         "DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|DDD_EXACT_MATCH_ON_REMOVE|DDD_"
                         "NO_BROADCAST_SYSTEM")) {
        return {"letter " + words[2]};
    }
    const std::map<std::string, std::string> kept = {{"DeleteFileW", "record"},
                                                     {"FreeSid", "sid"},
                                                     {"LocalFree", "block"},
                                                     {"FreeEnvironmentStringsW", "block"}};
    const auto found = kept.find(words[0]);
    return found == kept.end() ? Strings{} : Strings{found->second};
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
TEST_F(SandboxRun, EveryCallThatFailsLeavesNothingBehind) {
    for (const Strings& options : {Strings{}, DRIVEN}) {
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
    }
}

// The calls whose order and arguments matter, in the order they must come, with whatever else
// between them; the environment as the child inherits it.
TEST_F(SandboxRun, ChildRunsOnTheMountsWithTheRewrittenEnvironment) {
    EXPECT_EQ(run_child(), 0);
    const Strings ordered = split(
        R"(CreateAppContainerProfile agent | agent | Norix isolated Agent process | null 0; )"
        R"(WaitForSingleObject event 0; GetNamedSecurityInfoW C:\Work\Proj 1 4; SetEntriesInAclW )"
        R"(entry FILE_GENERIC_READ|FILE_GENERIC_WRITE|FILE_GENERIC_EXECUTE|DELETE mode=1 inherit=SUB_CONTAINERS_AND_OBJECTS_INHERIT form=0 type=2 multiple=0; SetNamedSecurityInfoW )"
        R"(C:\Work\Proj 1 4; WaitForSingleObject event 0; GetNamedSecurityInfoW C:\Work\Scratch 1 )"
        R"(4; SetEntriesInAclW entry FILE_GENERIC_READ|FILE_GENERIC_WRITE|FILE_GENERIC_EXECUTE|DELETE mode=1 inherit=SUB_CONTAINERS_AND_OBJECTS_INHERIT form=0 type=2 multiple=0; )"
        R"(SetNamedSecurityInfoW C:\Work\Scratch 1 4; CreateMutexW )"
        R"(Local\Norix.NativeSandbox.DriveAllocation; WaitForMultipleObjects event mutex )"
        R"(INFINITE; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_NO_BROADCAST_SYSTEM Z: \??\C:\Work\Proj; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_NO_BROADCAST_SYSTEM Y: )"
        R"(\??\C:\Work\Scratch; CreateFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; )"
        R"(WriteFile file 43; ReleaseMutex; WaitForSingleObject event 0; SetEnvironmentVariableW )"
        R"(NORIX_PROJECT_ROOT=Z:\; CreateProcessW CREATE_SUSPENDED|EXTENDED_STARTUPINFO_PRESENT inherit=1 start=STARTF_USESTDHANDLES capabilities=0 )"
        R"(reserved=0 handles=3 Z:\bin\tool.exe Z:\src\main.c; CreateJobObjectW; )"
        R"(SetInformationJobObject 9 144 JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE; SetInformationJobObject 4 4 JOB_OBJECT_UILIMIT_HANDLES|JOB_OBJECT_UILIMIT_READCLIPBOARD|JOB_OBJECT_UILIMIT_WRITECLIPBOARD|JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS|JOB_OBJECT_UILIMIT_DISPLAYSETTINGS|JOB_OBJECT_UILIMIT_DESKTOP|JOB_OBJECT_UILIMIT_EXITWINDOWS; )"
        R"(AssignProcessToJobObject; WaitForSingleObject )"
        R"(event 0; ResumeThread; CloseHandle thread; WaitForSingleObject process INFINITE; )"
        R"(GetExitCodeProcess; CloseHandle process; CloseHandle job; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|DDD_EXACT_MATCH_ON_REMOVE|DDD_NO_BROADCAST_SYSTEM Y: )"
        R"(\??\C:\Work\Scratch; DefineDosDeviceW DDD_RAW_TARGET_PATH|DDD_REMOVE_DEFINITION|DDD_EXACT_MATCH_ON_REMOVE|DDD_NO_BROADCAST_SYSTEM Z: \??\C:\Work\Proj; DeleteFileW )"
        R"(\\?\C:\Work\.Scratch.norix-native-sandbox-mounts; FreeSid; SetEvent; )"
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
    EXPECT_EQ(seen_.current_directory, "Z:\\");
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("agent"));
    EXPECT_TRUE(seen_.in_kill_on_close_job);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen_.std_handles[i], GetStdHandle(STD_INPUT_HANDLE - i)) << i;
    }
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
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE)); },
         "null 2 0; buffer 2 80; 0x20009 24; 0x20002 8; "
         "CREATE_SUSPENDED|EXTENDED_STARTUPINFO_PRESENT inherit=1 start=STARTF_USESTDHANDLES "
         "capabilities=0 reserved=0 handles=1"},
        {[] {
             SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
             sim::set_stderr(std::nullopt);
         },
         "null 1 0; buffer 1 48; 0x20009 24; CREATE_SUSPENDED|EXTENDED_STARTUPINFO_PRESENT "
         "inherit=0 start=STARTF_USESTDHANDLES capabilities=0 "
         "reserved=0"},
    };
    for (const auto& [arrange, launch] : rows) {
        arrange();
        sim::clear_journal();
        EXPECT_EQ(run_with(standard_arguments()), 0) << launch;
        Strings calls;
        for (const char* function :
             {"InitializeProcThreadAttributeList", "UpdateProcThreadAttribute", "CreateProcessW"}) {
            for (const auto& line : sim::journal_of(function)) {
                const auto from = line.find(' ') + 1; // after the function, before the program
                calls.push_back(line.substr(from, line.find(" Z:") - from));
            }
        }
        EXPECT_EQ(joined(calls), launch);
    }
}

TEST_F(SandboxRun, ExitCodesPassBackOrFallBack) {
    const std::pair<sim::Dword, int> codes[] = {{0, 0},     {255, 255},        {256, 125},
                                                {259, 125}, {0xC0000005, 125}, {126, 126}};
    for (const auto& [child, status] : codes) {
        exit_code_ = child;
        EXPECT_EQ(run_with(standard_arguments()), status) << child;
    }
}

// What a killed run leaves at the record path, or anything else that no launcher holds there: a
// record's letters are removed where they still map onto its targets, and the trace says so;
// anything else goes unread. Links go, not what they lead to, and so does the other name of a
// file, not the file. Either way the run writes its own record there and deletes it at its end.
TEST_F(SandboxRun, RecordPathIsClearedOfWhatNoLauncherHolds) {
    // The letters a run takes here, as its record names them.
    const std::string killed("Z:\0\\??\\C:\\Work\\Proj\0Y:\0\\??\\C:\\Work\\Scratch\0", 43);
    const std::string plain = std::string(RECORD).substr(4);
    const auto killed_run = [=] {
        sim::make_file(plain, killed);
        sim::define_dos_device("Z:", "\\??\\C:\\Work\\Proj");
        sim::define_dos_device("Y:", "\\??\\C:\\Work\\Scratch");
    };
    // Records that a child could have written, naming another run's project letter: beside a
    // scratch letter that is gone, or one of another directory.
    const auto planted = [=](const std::string& scratch_target, bool scratch_letter) {
        return [=] {
            sim::make_file(plain, std::string("X:\0\\??\\C:\\Work\\Other\0W:\0", 24) +
                                      scratch_target + '\0');
            sim::define_dos_device("X:", "\\??\\C:\\Work\\Other");
            if (scratch_letter) {
                sim::define_dos_device("W:", "\\??\\C:\\Work\\Scratch");
            }
        };
    };
    struct Row {
        const char* name;
        std::function<void()> arrange;
        bool recovered = false; // a killed run's record, its letters removed
        const char* failed = "";
        Strings left;
    };
    const Row rows[] = {
        {.name = "KilledRun", .arrange = killed_run, .recovered = true},
        {.name = "CutShort", .arrange = [=] { sim::make_file(plain, killed.substr(0, 20)); }},
        {.name = "FileLink", .arrange = [=] { sim::make_file_symlink(plain, "Kept.txt"); }},
        {.name = "Junction", .arrange = [=] { sim::make_junction(plain, "C:\\Work\\KeptDir"); }},
        {.name = "HardLink", .arrange = [=] { sim::make_hard_link(plain, "C:\\Work\\Kept.txt"); }},
        {.name = "ScratchLetterGone",
         .arrange = planted("\\??\\C:\\Work\\Scratch", false),
         .left = {"letter X:"}},
        {.name = "OtherScratch",
         .arrange = planted("\\??\\C:\\Work\\Elsewhere", true),
         .left = {"letter W:", "letter X:"}},
        // Y: cannot be looked at: the run fails, and both letters and the record stay for a
        // later run or the cleanup.
        {.name = "LetterRefused",
         .arrange =
             [=] {
                 killed_run();
                 sim::inject(fault_for("QueryDosDeviceW", "Y:", 0, 5));
             },
         .failed = "native sandbox failed: cannot query the Y: definitions: Win32 5\n",
         .left = {"letter Y:", "letter Z:", "record"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fresh_machine();
        host_stop_event();
        sim::make_file("C:\\Work\\Kept.txt", "kept");
        sim::make_file("C:\\Work\\KeptDir\\inside", "kept");
        row.arrange();
        std::optional<std::string> record_in_run;
        use_program([&](const sim::ChildView&) {
            record_in_run = sim::file_content(plain);
            return sim::Dword{0};
        });
        trace_on();
        const bool refused = *row.failed != '\0';
        Strings arguments = standard_arguments();
        with(DRIVEN)(arguments);
        EXPECT_EQ(run_with(arguments), refused ? 126 : 0);
        // The report tells the host as the trace does.
        const auto first = nlohmann::json::parse(split(*sim::file_content(REPORT), "\n")[0]);
        EXPECT_EQ(first["event"] == "recovered", row.recovered);
        if (row.recovered) {
            EXPECT_EQ(first, nlohmann::json::parse(
                                 R"({"event":"recovered","record":"C:\\Work\\.Scratch.norix-)"
                                 R"(native-sandbox-mounts","letters":[{"drive":"Z:","target":)"
                                 R"("\\??\\C:\\Work\\Proj","outcome":"removed"},{"drive":"Y:",)"
                                 R"("target":"\\??\\C:\\Work\\Scratch","outcome":"removed"}]})"));
        }
        const std::string trace = sim::stderr_text();
        EXPECT_EQ(trace.substr(0, trace.find("sandbox-stage=create-process")),
                  GRANTED +
                      (row.recovered
                           ? "sandbox-stage=recover-record path=" + std::string(RECORD) + "\n"
                           : "") +
                      row.failed);
        EXPECT_EQ(record_in_run.has_value(), !refused);
        if (record_in_run && row.left.empty()) {
            EXPECT_EQ(*record_in_run, killed);
        }
        Strings left = left_behind();
        std::ranges::sort(left);
        EXPECT_EQ(left, row.left);
        EXPECT_EQ(sim::file_content("C:\\Work\\Kept.txt"), "kept");
        EXPECT_EQ(sim::file_content("C:\\Work\\KeptDir\\inside"), "kept");
    }
}

// Two runs on one scratch directory. The record of the one still running is left to it, and so
// are its letters; the cleanup refuses that record. The second run rewrites it for its own
// letters, and the first run's end, the last, deletes it.
TEST_F(SandboxRun, RecordOfARunningLauncherIsLeftToIt) {
    const std::string plain = std::string(RECORD).substr(4);
    std::atomic<bool> first_waits = true;
    std::atomic<int> children = 0;
    std::optional<std::string> record_seen;
    use_program([&](const sim::ChildView&) {
        if (children++ == 0) {
            while (first_waits) {
                std::this_thread::yield();
            }
        } else {
            record_seen = sim::file_content(plain);
        }
        return sim::Dword{0};
    });
    const sim::Dword first = sim::start_launcher();
    std::thread running([&] {
        const sim::ProcessScope scope(first);
        const SandboxRequest request{to_wide("\\\\?\\C:\\Work\\Proj"),
                                     to_wide("\\\\?\\C:\\Work\\Scratch"), "agent", "bin\\tool.exe"};
        StopSignal stop(UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)));
        EXPECT_EQ(run_sandbox(request, stop), 0);
    });
    while (children == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(run_cleanup_process(to_wide("cleanup C:\\Work\\Scratch")), 1);
    EXPECT_EQ(sim::stderr_text(),
              "native sandbox cleanup failed: mount record is held by a running launcher: " +
                  plain + "\n");
    EXPECT_EQ(run_with(standard_arguments()), 0);
    EXPECT_EQ(record_seen,
              std::string("X:\0\\??\\C:\\Work\\Proj\0W:\0\\??\\C:\\Work\\Scratch\0", 43));
    EXPECT_EQ(sim::defined_letters(), (Strings{"Y:", "Z:"}));
    EXPECT_EQ(sim::file_content(plain), record_seen);
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

// Where a console event comes (after the n-th calls of a function, from the child, or while the
// run waits for the lock that another launcher holds), the status after Ctrl+C or Ctrl+Break and
// after a closed console, and the release steps.
using EventRow = std::tuple<const char*, std::string, int, int, std::string>;

const EventRow EVENTS[] = {
    {"BeforeTheGrants", "CreateAppContainerProfile 1", 126, 126, "sid"},
    // The stop event comes first in the wait: with both set, the lock is not taken.
    {"BeforeTheWaitForTheLock", "CreateMutexW 1", 126, 126, "close-mutex sid"},
    {"WhileWaitingForTheLock", "lock", 126, 126, "close-mutex sid"},
    // Under the lock, and again in the teardown that follows.
    {"UnderTheLockAndInTheTeardown", "DefineDosDeviceW 2 3", 126, 126, "unlock Y: Z: record sid"},
    // A child not yet resumed has not seen the event: the job ends it.
    {"BeforeTheResume", "AssignProcessToJobObject 1", 126, 126, TORN_DOWN},
    // After the last look before the resume: the child, not yet running, missed the event, so the
    // run ends it as the event would have.
    {"AfterTheLastLookBeforeTheResume", "WaitForSingleObject 4", 125, 125, TORN_DOWN},
    {"FromTheChild", "child", 125, 125, TORN_DOWN},
    {"FromAChildThatIgnoresIt", "ignoring-child", 7, 125, TORN_DOWN},
    {"InTheTeardown", "DefineDosDeviceW 3", 0, 0, TORN_DOWN}};

using ConsoleEvents = SandboxRows<std::tuple<EventRow, sim::Dword>>;

// Before the child is resumed a console event stops the run, which releases what it holds as
// after any failure; once the child runs, the child decides and the launcher waits for it. After
// a closed console, nothing is left at the moment Windows would end the launcher. A second event,
// or one during the teardown, releases nothing twice and cuts nothing short.
TEST_P(ConsoleEvents, StopTheRunOrLeaveItToTheChild) {
    const auto& [row, event] = GetParam();
    const auto& [name, at, status, close_status, released] = row;
    int ends = 0;
    const auto at_end = [&ends] {
        ++ends;
        EXPECT_EQ(sim::defined_letters(), Strings{});
        EXPECT_FALSE(sim::path_exists(RECORD));
        EXPECT_EQ(sim::live_processes(), std::vector<sim::Dword>{});
    };
    const Strings where = split(at);
    for (std::size_t i = 1; i < where.size(); ++i) {
        sim::send_console_event_after(where[0], std::stoul(where[i]), event, at_end);
    }
    if (at.ends_with("child") || at.starts_with("WaitFor")) {
        use_program([&](const sim::ChildView&) {
            if (at == "ignoring-child") {
                sim::ignore_console_events();
            }
            // Once the run has had its look at the stop after the resume.
            await_call("WaitForSingleObject process");
            if (at.ends_with("child")) {
                sim::send_console_event(event, at_end);
            }
            return sim::Dword{7};
        });
    }
    if (at == "lock") {
        hold_the_lock();
    }
    int got = -1;
    std::thread run([&] { got = run_with(standard_arguments()); });
    if (at == "lock") {
        await_call("WaitForMultipleObjects");
        sim::send_console_event(event, at_end);
    }
    run.join();
    sim::finish_console_events();
    EXPECT_EQ(got, event == CTRL_CLOSE_EVENT ? close_status : status);
    EXPECT_EQ(sim::stderr_text(), got == 126 ? "native sandbox failed: " + INTERRUPTED + "\n" : "");
    EXPECT_EQ(releases(), released);
    EXPECT_EQ(ends, event == CTRL_CLOSE_EVENT ? std::max<std::size_t>(where.size() - 1, 1) : 0);
    EXPECT_EQ(left_behind(), Strings{});
}

const auto event_row_name = [](const auto& row) {
    const char* const events[] = {"CtrlC", "CtrlBreak", "Close"};
    return std::get<0>(std::get<0>(row.param)) + std::string(events[std::get<1>(row.param)]);
};

INSTANTIATE_TEST_SUITE_P(SandboxRun, ConsoleEvents,
                         ::testing::Combine(::testing::ValuesIn(EVENTS),
                                            ::testing::Values(CTRL_C_EVENT, CTRL_BREAK_EVENT,
                                                              CTRL_CLOSE_EVENT)),
                         event_row_name);

// A run that a host drives with a report, a time limit of 5 s and its stop event: what the
// host's `arrange` does (to its event, through a `helper` thread if need be), the status, the
// failure line's message and the report's closing line. The report has a started line exactly
// when the child was resumed, the clock starts there, and the event and the report come before
// the profile.
struct HostRow {
    const char* name;
    std::function<void(HANDLE stop)> arrange;
    int status;
    std::string closing;
    std::string ended_with; // how the run ended the job's processes, if it did
};

using HostChannel = SandboxRows<HostRow>;

// A child that does `first`, then runs until something ends it.
sim::Program until_ended(std::function<void()> first) {
    return [first](const sim::ChildView&) {
        first();
        sim::run_until_ended();
        return sim::Dword{0};
    };
}

std::thread host_helper;
const std::string FAILED = R"({"event":"failed","status":126,"message":")";

const HostRow HOST_ROWS[] = {
    {"Exited", [](HANDLE) { use_program([](const sim::ChildView&) { return 0xC0000005U; }); }, 125,
     R"({"event":"exited","exit_code":3221225477,"status":125})"},
    {"TimedOut", [](HANDLE) { use_program(until_ended([] { sim::pass_time(5000); })); }, 124,
     R"({"event":"timeout","status":124})", "TerminateJobObject 0x5b4"},
    {"Stopped", [](HANDLE stop) { use_program(until_ended([stop] { SetEvent(stop); })); }, 130,
     R"({"event":"stopped","status":130})", "TerminateJobObject 0xc000013a"},
    {"StoppedBeforeTheGrants", [](HANDLE stop) { SetEvent(stop); }, 126,
     R"({"event":"interrupted","status":126,"stage":null})"},
    {"StoppedWhileWaitingForTheLock",
     [](HANDLE stop) {
         hold_the_lock();
         host_helper = std::thread([stop] {
             await_call("WaitForMultipleObjects");
             SetEvent(stop);
         });
     },
     126, R"({"event":"interrupted","status":126,"stage":"acl-done"})"},
    {"ChildCreation", [](HANDLE) { sim::inject(fault_on("CreateProcessW", 0, 2)); }, 126,
     FAILED + R"(cannot create AppContainer process: Win32 2","stage":"create-process",)"
              R"("win32":2,"program":"Z:\\bin\\tool.exe","system_message":"The system cannot )"
              R"(find the file specified."})"},
    {"ProfileCreation",
     [](HANDLE) { sim::inject(fault_on("CreateAppContainerProfile", 0x8007000E)); }, 126,
     FAILED + R"(cannot create AppContainer profile: HRESULT 0x8007000e","stage":null,)"
              R"("hresult":2147942414})"},
    {"FatalStop", [](HANDLE) { sim::inject(fault_for("SetEnvironmentVariableW", "TEMP", 0, 8)); },
     101,
     R"({"event":"failed","status":101,"message":"failed to set environment variable \"TEMP\" )"
     R"(to \"Y:\\\": )" +
         OUT_OF_MEMORY + R"(","stage":"acl-done"})"},
};

// Standard error holds the closing line's message, exactly, or the interruption's line.
TEST_P(HostChannel, ReportTellsHowTheRunEnded) {
    const HostRow& row = GetParam();
    const HANDLE stop = host_stop_event();
    row.arrange(stop);
    Strings arguments = standard_arguments();
    with(DRIVEN)(arguments);
    EXPECT_EQ(run_with(arguments), row.status);
    if (host_helper.joinable()) {
        host_helper.join();
    }
    sim::finish_console_events();
    EXPECT_EQ(joined(sim::journal_of("TerminateJobObject")), row.ended_with);
    const Strings text = split(sim::file_content(REPORT).value_or(""), "\n");
    ASSERT_EQ(text.back(), ""); // every line ends with a line feed
    const bool resumed = sim::journal_of("ResumeThread").size() == 1;
    ASSERT_EQ(text.size(), resumed ? 3U : 2U);
    const auto closing = nlohmann::json::parse(text.rbegin()[1]);
    EXPECT_EQ(closing, nlohmann::json::parse(row.closing));
    const std::string message =
        closing["event"] == "interrupted" ? INTERRUPTED : closing.value("message", "");
    const std::string prefix = row.status == 101 ? "fatal error: " : "failed: ";
    EXPECT_EQ(sim::stderr_text(),
              message.empty() ? "" : "native sandbox " + prefix + message + "\n");
    if (resumed) {
        EXPECT_EQ(nlohmann::json::parse(text[0]),
                  nlohmann::json::parse(
                      R"({"event":"started","launcher_pid":1,"child_pid":101,"sid":")" +
                      sim::app_container_sid("agent") +
                      R"(","mounts":[{"role":"project","drive":"Z:","directory":"C:\\Work\\Proj"},)"
                      R"({"role":"scratch","drive":"Y:","directory":"C:\\Work\\Scratch"}]})"));
    }
    const auto at = [](const std::string& call) {
        return std::ranges::find(sim::journal(), call) - sim::journal().begin();
    };
    EXPECT_EQ(at("GetTickCount64") > at("ResumeThread"), resumed); // the clock starts there
    EXPECT_LT(at("OpenEventW SYNCHRONIZE 0 Local\\host-stop"),
              at("CreateFileW C:\\Work\\run.jsonl"));
    EXPECT_LT(
        at("CreateFileW C:\\Work\\run.jsonl"),
        at("CreateAppContainerProfile agent | agent | Norix isolated Agent process | null 0"));
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
