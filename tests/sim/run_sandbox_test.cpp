// Whole runs through the process entry: every failure point with its line, status, release order
// and nothing left behind; what a run gives the child; runs that meet other launchers.
#include "entry/process_entry.hpp"
#include "mounts/drive_allocation_lock.hpp"
#include "run/app_container.hpp"
#include "run/child_command_line.hpp"
#include "sim/sim_fixture.hpp"

#include <functional>
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

// The calls that release what a run holds, in order, one letter each: L the lock (released and
// closed), m the lock's handle alone, A the attribute list, T the child ended, t p j the thread,
// process and job handles closed, Y Z the letters removed, R the record deleted, S the SID freed.
std::string releases() {
    const Strings calls = split("ReleaseMutex;CloseHandle mutex;DeleteProcThreadAttributeList;"
                                "TerminateProcess 1;CloseHandle thread;CloseHandle process;"
                                "CloseHandle job;DefineDosDeviceW 0xf Y: \\??\\C:\\Work\\Scratch;"
                                "DefineDosDeviceW 0xf Z: \\??\\C:\\Work\\Proj;DeleteFileW " +
                                    std::string(RECORD) + ";FreeSid",
                                ';');
    std::string code;
    for (const auto& line : sim::journal()) {
        const auto found = std::ranges::find(calls, line) - calls.begin();
        if (found < 11 && !(found == 1 && code.ends_with('L'))) {
            code += "LmATtpjYZRS"[found];
        }
    }
    return code;
}

// Another launcher, holding the allocation lock.
sim::Dword hold_the_lock() {
    const sim::Dword holder = sim::start_launcher();
    const sim::ProcessScope scope(holder);
    const HANDLE held = CreateMutexW(nullptr, FALSE, to_wide(DRIVE_ALLOCATION_MUTEX).c_str());
    EXPECT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    return holder;
}

void await_lock_wait() {
    while (sim::journal_of("WaitForMultipleObjects").empty()) {
        std::this_thread::yield();
    }
}

// A child program that runs until something ends it.
sim::Dword run_until_ended(const sim::ChildView& view) {
    while (!sim::exit_code_of(view.pid)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

class SandboxRun : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_directory("C:\\Work\\Proj\\src");
        sim::make_directory("C:\\Work\\Scratch");
        sim::make_file("C:\\x.exe");
        sim::make_file("C:\\Other\\x.exe");
        runs_ = 0;
        use_program([this](const sim::ChildView& view) {
            seen_ = view;
            ++runs_;
            return exit_code_;
        });
        sim::clear_journal();
    }

    static void use_program(sim::Program program) {
        sim::register_program("C:\\Work\\Proj\\bin\\tool.exe", std::move(program));
    }

    // Nothing of the run is left but the grants: letters, record, lock, handles, SID, processes,
    // jobs, blocks.
    static void expect_nothing_left() {
        for (const auto& letter : sim::defined_letters()) {
            EXPECT_FALSE(joined(sim::dos_device_targets(letter)).contains("C:\\Work")) << letter;
        }
        EXPECT_FALSE(sim::path_exists(RECORD));
        EXPECT_EQ(sim::owned_mutexes(), Strings{});
        EXPECT_EQ(sim::open_handles(), Strings{});
        EXPECT_EQ(sim::unfreed_sids(), 0U);
        EXPECT_EQ(sim::live_processes(), std::vector<sim::Dword>{});
        EXPECT_EQ(sim::live_jobs(), 0U);
        EXPECT_EQ(sim::unfreed_blocks(), 0U);
    }

    // How many of the run's directories have an entry for the profile.
    static std::size_t granted(const Strings& arguments) {
        const auto entries = [](const std::string& directory) {
            return sim::dacl_entries(directory).value_or(std::vector<sim::AccessEntry>{}).size();
        };
        return entries(arguments[1]) + entries(arguments[3]) - 2;
    }

    sim::ChildView seen_;
    int runs_ = 0;
    sim::Dword exit_code_ = 0;
};

struct FailureRow {
    std::function<void(Strings&)> arrange;
    std::string message;
    std::string released; // as releases() writes it
    int status = 126;
    std::size_t granted = 2; // project, then scratch
    bool child_ran = false;
};

std::function<void(Strings&)> fails(const std::string& function, std::uint64_t result,
                                    sim::Dword error = 0, unsigned call = 1) {
    return [=](Strings&) { sim::inject(fault_on(function, result, error, call)); };
}

const std::string INTERRUPTED = "sandbox run interrupted by a console control event";

std::function<void(Strings&)> stopped_after(const std::string& function) {
    return [=](Strings&) { sim::send_console_event_after(function, 1, CTRL_C_EVENT); };
}

TEST_F(SandboxRun, EveryFailurePointReleasesInOrderAndLeavesNothing) {
    const auto letters_taken = [](char last) {
        return [last](Strings&) {
            for (char letter = 'D'; letter <= last; ++letter) {
                sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\Busy");
            }
        };
    };
    const auto program = [](const char* path) {
        return [path](Strings& arguments) { arguments[9] = path; };
    };
    // Twelve trace lines and the record come first; then "create-process", "assign-job", "resume".
    // With `capacity` set, standard error takes at most that many bytes a write.
    const auto trace_write_fails = [](std::uint64_t result, sim::Dword error, unsigned call = 14,
                                      std::size_t capacity = 0) {
        return [=](Strings&) {
            trace_on();
            sim::set_stderr(sim::StreamKind::Pipe, 0, capacity);
            sim::inject(fault_on("WriteFile", result, error, call));
        };
    };
    const auto on_share = [](std::size_t at) {
        return [at](Strings& arguments) {
            sim::add_share("srv", "share");
            sim::make_directory("\\\\srv\\share\\dir");
            arguments[at] = "\\\\srv\\share\\dir";
        };
    };
    const std::string no_letter = "no DOS drive slot is available for the native sandbox";
    const std::string out_of_memory =
        "Not enough memory resources are available to process this command. (os error 8)";
    const std::vector<FailureRow> rows = {
        {fails("CreateEventW", 0, 8, 2), "cannot create console control events: Win32 8", "", 126,
         0},
        {fails("SetConsoleCtrlHandler", 0, 8), "cannot install console control handler: Win32 8",
         "", 126, 0},
        {fails("CreateAppContainerProfile", 0x800700AA),
         "cannot create AppContainer profile: HRESULT 0x800700aa", "", 126, 0},
        {[](Strings&) {
             (void)obtain_profile_sid(to_wide("agent"));
             sim::clear_journal();
             sim::inject(fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057));
         },
         "cannot derive AppContainer SID: HRESULT 0x80070057", "", 126, 0},
        {fails("GetNamedSecurityInfoW", 5), "cannot read ACL for \\\\?\\C:\\Work\\Proj: Win32 5",
         "S", 126, 0},
        // The grant names even a verbatim path without "\\?\", which reaches a long one only where
        // Windows allows long paths to a long-path aware process.
        {[](Strings& arguments) {
             arguments[1] = LONG_PROJECT;
             sim::make_directory(LONG_PROJECT.substr(4));
         },
         "cannot read ACL for " + LONG_PROJECT + ": Win32 3", "S", 126, 0},
        {fails("SetEntriesInAclW", 87, 0, 2),
         "cannot merge ACL for \\\\?\\C:\\Work\\Scratch: Win32 87", "S", 126, 1},
        {fails("SetNamedSecurityInfoW", 5, 0, 2),
         "cannot set ACL for \\\\?\\C:\\Work\\Scratch: Win32 5", "S", 126, 1},
        {[](Strings& arguments) {
             sim::add_volume('S');
             arguments[3] = "S:\\";
         },
         "sandbox scratch path has no parent", "S", 126, 0},
        {on_share(1), "Windows sandbox mounts must use local drive paths", "S", 126, 0},
        {on_share(3), "Windows sandbox mounts must use local drive paths", "S", 126, 0},
        {fails("CreateMutexW", 0, 5), "cannot create sandbox allocation lock: Win32 5", "RS"},
        {fails("WaitForMultipleObjects", WAIT_FAILED, 6),
         "cannot acquire sandbox allocation lock: 4294967295", "mRS"},
        // The stop event comes first in the wait: with both set, the lock is not taken.
        {stopped_after("CreateMutexW"), INTERRUPTED, "mRS"},
        {letters_taken('Z'), no_letter, "LRS"},
        {letters_taken('Y'), no_letter, "ZLRS"},
        {[](Strings&) { sim::inject(fault_for("CreateFileW", RECORD, 0, 5)); },
         "cannot write sandbox mount record: Access is denied. (os error 5)", "YZLRS"},
        {fails("GetEnvironmentStringsW", 0, 8),
         "failure getting env string from OS: " + out_of_memory, "LYZRS", 101},
        {[](Strings&) { sim::inject(fault_for("SetEnvironmentVariableW", "TEMP", 0, 8)); },
         "failed to set environment variable \"TEMP\" to \"Y:\\\": " + out_of_memory, "LYZRS", 101},
        {program("bin\\missing.exe"),
         "cannot resolve sandbox program \\\\?\\C:\\Work\\Proj\\bin\\missing.exe: The system "
         "cannot find the file specified. (os error 2)",
         "LYZRS"},
        {program("..\\..\\x.exe"), "relative sandbox program escaped the project mount", "LYZRS"},
        {program("C:\\Other\\x.exe"),
         "absolute sandbox program is outside trusted system runtime roots", "LYZRS"},
        {fails("SetHandleInformation", 0, 6), "cannot make standard handle inheritable: Win32 6",
         "LYZRS"},
        {fails("InitializeProcThreadAttributeList", 0, 87),
         "cannot size process attribute list: Win32 87", "LYZRS"},
        {fails("InitializeProcThreadAttributeList", 0, 8, 2),
         "cannot initialize process attribute list: Win32 8", "LYZRS"},
        {fails("UpdateProcThreadAttribute", 0, 50),
         "cannot apply AppContainer process attribute: Win32 50", "LAYZRS"},
        {fails("UpdateProcThreadAttribute", 0, 87, 2),
         "cannot apply handle list process attribute: Win32 87", "LAYZRS"},
        {fails("CreateProcessW", 0, 2), "cannot create AppContainer process: Win32 2", "LAYZRS"},
        {trace_write_fails(0, 232), "cannot write stage trace to standard error: Win32 232",
         "LAYZRS", 101},
        // A trace line cut off after 9 bytes: the diagnostic starts a line of its own.
        {trace_write_fails(0, 232, 2, 9), "cannot write stage trace to standard error: Win32 232",
         "S", 101, 0},
        // A write that takes nothing but reports success, leaving a stale last-error value.
        {trace_write_fails(TRUE, 5), "cannot write stage trace to standard error: Win32 29",
         "LAYZRS", 101},
        {fails("CreateJobObjectW", 0, 5), "cannot create sandbox job: Win32 5", "LATtpYZRS"},
        {fails("CreateJobObjectW", ~0ULL, 6), "cannot create sandbox job: Win32 6", "LATtpYZRS"},
        {fails("SetInformationJobObject", 0, 87), "cannot configure sandbox job: Win32 87",
         "LAjTtpYZRS"},
        {fails("AssignProcessToJobObject", 0, 5),
         "cannot assign AppContainer process to job: Win32 5", "LATtpjYZRS"},
        // Inside the job the child is ended by the job's close, not terminated.
        {trace_write_fails(0, 232, 16), "cannot write stage trace to standard error: Win32 232",
         "LAjtpYZRS", 101},
        {fails("ResumeThread", 0xFFFFFFFF, 5), "cannot resume AppContainer process: Win32 5",
         "LAtpjYZRS"},
        // A child not yet resumed has not seen the event: the job ends it.
        {stopped_after("AssignProcessToJobObject"), INTERRUPTED, "LAtpjYZRS"},
        {fails("GetExitCodeProcess", 0, 6), "cannot read AppContainer exit code: Win32 6",
         "LAtpjYZRS", 126, 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        sim::reset();
        SetUp();
        Strings arguments = standard_arguments();
        row.arrange(arguments);
        EXPECT_EQ(run_with(arguments), row.status);
        const std::string err = sim::stderr_text();
        const auto last_line_start = err.rfind('\n', err.size() >= 2 ? err.size() - 2 : 0);
        EXPECT_EQ(err.substr(last_line_start == std::string::npos ? 0 : last_line_start + 1),
                  (row.status == 101 ? "native sandbox fatal error: " : "native sandbox failed: ") +
                      row.message + "\n");
        EXPECT_EQ(releases(), row.released);
        EXPECT_EQ(runs_, row.child_ran ? 1 : 0);
        EXPECT_EQ(granted(arguments), row.granted);
        expect_nothing_left();
    }
}

TEST_F(SandboxRun, ChildRunsOnTheMountsWithTheRewrittenEnvironment) {
    // Values naming the directories plainly, escaped (under a one-letter name) and as a sibling.
    sim::set_environment({"=C:=C:\\Work\\Proj", "E=C:\\\\Work\\\\Proj\\\\src",
                          "NORIX_SANDBOX_TRACE=", "PATH=C:\\Work\\Proj\\bin;C:\\Windows",
                          "ProjectOld=C:\\Work\\Project2", "SystemRoot=C:\\Windows",
                          "TEMP=C:\\Work\\Scratch\\t"});
    use_program([this](const sim::ChildView& view) {
        seen_ = view;
        sim::start_descendant(); // ended with the job
        return sim::Dword{0};
    });
    EXPECT_EQ(run_with(standard_arguments()), 0);
    std::string stages = joined(split(sim::stderr_text(), '\n'));
    for (auto at = stages.find("sandbox-stage="); at != std::string::npos;
         at = stages.find("sandbox-stage=")) {
        stages.erase(at, std::string_view("sandbox-stage=").size());
    }
    EXPECT_EQ(
        stages,
        R"(grant-project; grant-mount path=\\?\C:\Work\Proj; acl-read; acl-merge; acl-set; )"
        R"(acl-done; grant-scratch; grant-mount path=\\?\C:\Work\Scratch; acl-read; )"
        R"(acl-merge; acl-set; acl-done; create-process; assign-job; resume; wait; settled; )");
    // Every call of the run from the profile on, in order, the trace lines among them.
    const Strings calls = journal_without({"GetEnvironmentVariableW"});
    const auto from = std::ranges::find(calls, "CreateAppContainerProfile agent | agent | Norix "
                                               "isolated Agent process | null 0");
    EXPECT_EQ(
        joined(Strings(from, calls.end())),
        R"(CreateAppContainerProfile agent | agent | Norix isolated Agent process | null 0; )"
        R"(WaitForSingleObject event 0; )"
        R"(WriteFile stream 28; WriteFile stream 48; WriteFile stream 23; )"
        R"(GetNamedSecurityInfoW C:\Work\Proj 1 4; WriteFile stream 24; SetEntriesInAclW 1; )"
        R"(SetEntriesInAclW entry 0x1301bf mode=1 inherit=0x3 form=0 type=2 multiple=0; )"
        R"(WriteFile stream 22; SetNamedSecurityInfoW C:\Work\Proj 1 4; LocalFree acl; )"
        R"(LocalFree security descriptor; WriteFile stream 23; WaitForSingleObject event 0; )"
        R"(WriteFile stream 28; WriteFile stream 51; WriteFile stream 23; )"
        R"(GetNamedSecurityInfoW C:\Work\Scratch 1 4; WriteFile stream 24; SetEntriesInAclW 1; )"
        R"(SetEntriesInAclW entry 0x1301bf mode=1 inherit=0x3 form=0 type=2 multiple=0; )"
        R"(WriteFile stream 22; SetNamedSecurityInfoW C:\Work\Scratch 1 4; LocalFree acl; )"
        R"(LocalFree security descriptor; WriteFile stream 23; )"
        R"(CreateMutexW Local\Norix.NativeSandbox.DriveAllocation; )"
        R"(WaitForMultipleObjects event mutex INFINITE; QueryDosDeviceW Z: 4; )"
        R"(DefineDosDeviceW 0x9 Z: \??\C:\Work\Proj; QueryDosDeviceW Z: 4; QueryDosDeviceW Y: 4; )"
        R"(DefineDosDeviceW 0x9 Y: \??\C:\Work\Scratch; )"
        R"(CreateFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; WriteFile file 43; )"
        R"(CloseHandle file; ReleaseMutex; CloseHandle mutex; WaitForSingleObject event 0; )"
        R"(GetEnvironmentStringsW; FreeEnvironmentStringsW; SetEnvironmentVariableW =C:=Z:; )"
        R"(SetEnvironmentVariableW E=Z:\\src; SetEnvironmentVariableW PATH=Z:\bin;C:\Windows; )"
        R"(SetEnvironmentVariableW TEMP=Y:\t; SetEnvironmentVariableW NORIX_PROJECT_ROOT=Z:\; )"
        R"(SetEnvironmentVariableW NORIX_SCRATCH_ROOT=Y:\; SetEnvironmentVariableW TEMP=Y:\; )"
        R"(SetEnvironmentVariableW TMP=Y:\; CreateFileW \\?\C:\Work\Proj\bin\tool.exe; )"
        R"(GetFinalPathNameByHandleW 260 0x0; CloseHandle file; )"
        R"(SetHandleInformation stream 0x1 0x1; SetHandleInformation stream 0x1 0x1; )"
        R"(SetHandleInformation stream 0x1 0x1; InitializeProcThreadAttributeList null 2 0; )"
        R"(InitializeProcThreadAttributeList buffer 2 80; UpdateProcThreadAttribute 0x20009 24; )"
        R"(UpdateProcThreadAttribute 0x20002 24; WriteFile stream 29; CreateProcessW 0x80004 )"
        R"(inherit=1 start=0x100 capabilities=0 reserved=0 handles=3 Z:\bin\tool.exe )"
        R"(Z:\src\main.c; DeleteProcThreadAttributeList; WriteFile stream 25; CreateJobObjectW; )"
        R"(SetInformationJobObject 9 144 0x2000; AssignProcessToJobObject; )"
        R"(WaitForSingleObject event 0; WriteFile stream 21; )"
        R"(ResumeThread; CloseHandle thread; WriteFile stream 19; )"
        R"(WaitForSingleObject process INFINITE; WriteFile stream 22; GetExitCodeProcess; )"
        R"(CloseHandle process; CloseHandle job; DefineDosDeviceW 0xf Y: \??\C:\Work\Scratch; )"
        R"(DefineDosDeviceW 0xf Z: \??\C:\Work\Proj; )"
        R"(DeleteFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; FreeSid; SetEvent; )"
        R"(SetConsoleCtrlHandler remove; CloseHandle event; CloseHandle event)");
    EXPECT_EQ(seen_.current_directory, "Z:\\");
    EXPECT_EQ(seen_.argv, (Strings{"Z:\\bin\\tool.exe", "Z:\\src\\main.c"}));
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("agent"));
    EXPECT_TRUE(seen_.in_kill_on_close_job);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(seen_.std_handles[i], nullptr) << i;
        EXPECT_EQ(seen_.std_handles[i], GetStdHandle(STD_INPUT_HANDLE - i)) << i;
    }
    expect_nothing_left();
}

// Null and INVALID_HANDLE_VALUE stay out of the list, a shared handle is listed once; with no
// valid handle there is neither a list nor inheritance.
TEST_F(SandboxRun, OnlyTheValidStandardHandlesCrossEachOnce) {
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE)); },
         "null 2 0; buffer 2 80; 0x20009 24; 0x20002 8; 0x80004 inherit=1 start=0x100 "
         "capabilities=0 reserved=0 handles=1"},
        {[] {
             SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
             sim::set_stderr(std::nullopt);
         },
         "null 1 0; buffer 1 48; 0x20009 24; 0x80004 inherit=0 start=0x100 capabilities=0 "
         "reserved=0"},
    };
    for (const auto& [arrange, launch] : rows) {
        SetUp();
        SetStdHandle(STD_INPUT_HANDLE, nullptr);
        arrange();
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
        expect_nothing_left();
    }
}

TEST_F(SandboxRun, ExitCodesPassBackOrFallBack) {
    const std::pair<sim::Dword, int> codes[] = {{0, 0},     {255, 255},        {256, 125},
                                                {259, 125}, {0xC0000005, 125}, {126, 126}};
    for (const auto& [child, status] : codes) {
        exit_code_ = child;
        EXPECT_EQ(run_with(standard_arguments()), status) << child;
        EXPECT_EQ(sim::stderr_text(), "") << child;
    }
    EXPECT_EQ(runs_, 6);
    // A failed wait is not examined: the child still running reads as 259.
    use_program(run_until_ended);
    sim::inject(fault_for("WaitForSingleObject", "process", WAIT_FAILED, 6));
    EXPECT_EQ(run_with(standard_arguments()), 125);
    EXPECT_EQ(sim::stderr_text(), "");
    expect_nothing_left();
}

TEST_F(SandboxRun, LockAbandonedByALauncherThatDiedIsTakenOver) {
    const sim::Dword dead = hold_the_lock();
    int status = -1;
    std::thread waiting([&] { status = run_with(standard_arguments()); });
    // The run waits on the lock, without a time limit, until the holder dies.
    await_lock_wait();
    sim::end_launcher(dead);
    waiting.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs_, 1);
    expect_nothing_left();
}

// Before the child is resumed a console event stops the run, which releases what it holds as
// after any failure; once the child runs, the child decides and the launcher waits for it. After
// a closed console, nothing is left at the moment Windows would end the launcher. A second event,
// or one during the teardown, releases nothing twice and cuts nothing short.
TEST_F(SandboxRun, ConsoleEventsStopTheRunOrLeaveItToTheChild) {
    // Where the event comes: after the n-th calls of a function, from the child, or while the run
    // waits for the lock that another launcher holds. Then the status after Ctrl+C or Ctrl+Break,
    // and after a closed console.
    const std::tuple<std::string, int, int, std::string> rows[] = {
        {"CreateAppContainerProfile 1", 126, 126, "S"},
        {"lock", 126, 126, "mRS"},
        {"DefineDosDeviceW 2", 126, 126, "LYZRS"},
        {"DefineDosDeviceW 2 3", 126, 126, "LYZRS"},
        {"child", 125, 125, "LAtpjYZRS"},
        {"ignoring-child", 7, 125, "LAtpjYZRS"},
        {"DefineDosDeviceW 3", 0, 0, "LAtpjYZRS"}};
    for (const sim::Dword event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT}) {
        for (const auto& [at, status, close_status, released] : rows) {
            SCOPED_TRACE(at + " " + std::to_string(event));
            sim::reset();
            SetUp();
            int ends = 0;
            const auto at_end = [&ends] {
                ++ends;
                EXPECT_EQ(sim::defined_letters(), Strings{});
                EXPECT_FALSE(sim::path_exists(RECORD));
                EXPECT_EQ(sim::live_processes(), std::vector<sim::Dword>{});
            };
            const Strings where = split(at);
            const std::size_t sent = std::max<std::size_t>(where.size() - 1, 1);
            for (std::size_t i = 1; i < where.size(); ++i) {
                sim::send_console_event_after(where[0], std::stoul(where[i]), event, at_end);
            }
            if (at.ends_with("child")) {
                use_program([&, ignores = at != "child"](const sim::ChildView&) {
                    if (ignores) {
                        sim::ignore_console_events();
                    }
                    sim::send_console_event(event, at_end);
                    return sim::Dword{7};
                });
            }
            if (at == "lock") {
                hold_the_lock();
            }
            int got = -1;
            std::thread run([&] { got = run_with(standard_arguments()); });
            if (at == "lock") {
                await_lock_wait();
                sim::send_console_event(event, at_end);
            }
            run.join();
            sim::finish_console_events();
            EXPECT_EQ(got, event == CTRL_CLOSE_EVENT ? close_status : status);
            EXPECT_EQ(sim::stderr_text(),
                      got == 126 ? "native sandbox failed: " + INTERRUPTED + "\n" : "");
            EXPECT_EQ(releases(), released);
            EXPECT_EQ(ends, event == CTRL_CLOSE_EVENT ? sent : 0);
            expect_nothing_left();
        }
    }
}

} // namespace
