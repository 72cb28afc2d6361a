// Whole runs through the process entry: every failure point with its line, status, release order
// and nothing left behind; what a run gives the child; runs that meet other launchers.
#include "entry/process_entry.hpp"
#include "paths/argument_translation.hpp"
#include "paths/environment_rewrite.hpp"
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
    const auto trace_write_fails = [](std::uint64_t result, sim::Dword error, unsigned call = 14) {
        return [=](Strings&) {
            trace_on();
            sim::inject(fault_on("WriteFile", result, error, call));
        };
    };
    const std::string no_letter = "no DOS drive slot is available for the native sandbox";
    const std::string out_of_memory =
        "Not enough memory resources are available to process this command. (os error 8)";
    const std::vector<FailureRow> rows = {
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
        {fails("CreateMutexW", 0, 5), "cannot create sandbox allocation lock: Win32 5", "RS"},
        {fails("WaitForSingleObject", WAIT_FAILED, 6),
         "cannot acquire sandbox allocation lock: 4294967295", "mRS"},
        {letters_taken('Z'), no_letter, "LRS"},
        {[](Strings& arguments) {
             sim::add_share("srv", "share");
             sim::make_directory("\\\\srv\\share\\proj");
             arguments[1] = "\\\\srv\\share\\proj";
         },
         "Windows sandbox mounts must use local drive paths", "LRS"},
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
        {fails("InitializeProcThreadAttributeList", 0, 87),
         "cannot size process attribute list: Win32 87", "LYZRS"},
        {fails("InitializeProcThreadAttributeList", 0, 8, 2),
         "cannot initialize process attribute list: Win32 8", "LYZRS"},
        {fails("UpdateProcThreadAttribute", 0, 50),
         "cannot apply AppContainer process attribute: Win32 50", "LAYZRS"},
        {fails("CreateProcessW", 0, 2), "cannot create AppContainer process: Win32 2", "LAYZRS"},
        {trace_write_fails(0, 232), "cannot write stage trace to standard error: Win32 232",
         "LAYZRS", 101},
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
                          "NORIX_SANDBOX_TRACE=", "Path=C:\\Work\\Proj\\bin;C:\\Windows",
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
        R"(WriteFile stream 28; WriteFile stream 48; WriteFile stream 23; )"
        R"(GetNamedSecurityInfoW C:\Work\Proj 1 4; WriteFile stream 24; SetEntriesInAclW 1; )"
        R"(SetEntriesInAclW entry 0x1301bf mode=1 inherit=0x3 form=0 type=2 multiple=0; )"
        R"(WriteFile stream 22; SetNamedSecurityInfoW C:\Work\Proj 1 4; LocalFree acl; )"
        R"(LocalFree security descriptor; WriteFile stream 23; WriteFile stream 28; )"
        R"(WriteFile stream 51; WriteFile stream 23; GetNamedSecurityInfoW C:\Work\Scratch 1 4; )"
        R"(WriteFile stream 24; SetEntriesInAclW 1; )"
        R"(SetEntriesInAclW entry 0x1301bf mode=1 inherit=0x3 form=0 type=2 multiple=0; )"
        R"(WriteFile stream 22; SetNamedSecurityInfoW C:\Work\Scratch 1 4; LocalFree acl; )"
        R"(LocalFree security descriptor; WriteFile stream 23; )"
        R"(CreateMutexW Local\Norix.NativeSandbox.DriveAllocation; )"
        R"(WaitForSingleObject mutex INFINITE; QueryDosDeviceW Z: 4; )"
        R"(DefineDosDeviceW 0x9 Z: \??\C:\Work\Proj; QueryDosDeviceW Z: 4; QueryDosDeviceW Y: 4; )"
        R"(DefineDosDeviceW 0x9 Y: \??\C:\Work\Scratch; )"
        R"(CreateFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; WriteFile file 43; )"
        R"(CloseHandle file; ReleaseMutex; CloseHandle mutex; GetEnvironmentStringsW; )"
        R"(FreeEnvironmentStringsW; SetEnvironmentVariableW =C:=Z:; )"
        R"(SetEnvironmentVariableW E=Z:\\src; SetEnvironmentVariableW Path=Z:\bin;C:\Windows; )"
        R"(SetEnvironmentVariableW TEMP=Y:\t; SetEnvironmentVariableW NORIX_PROJECT_ROOT=Z:\; )"
        R"(SetEnvironmentVariableW NORIX_SCRATCH_ROOT=Y:\; SetEnvironmentVariableW TEMP=Y:\; )"
        R"(SetEnvironmentVariableW TMP=Y:\; CreateFileW \\?\C:\Work\Proj\bin\tool.exe; )"
        R"(GetFinalPathNameByHandleW 260 0x0; CloseHandle file; )"
        R"(InitializeProcThreadAttributeList null 1 0; )"
        R"(InitializeProcThreadAttributeList buffer 1 48; UpdateProcThreadAttribute 0x20009 24; )"
        R"(WriteFile stream 29; )"
        R"(CreateProcessW 0x80004 inherit=1 start=0x100 capabilities=0 reserved=0 Z:\bin\tool.exe )"
        R"(Z:\src\main.c; DeleteProcThreadAttributeList; WriteFile stream 25; CreateJobObjectW; )"
        R"(SetInformationJobObject 9 144 0x2000; AssignProcessToJobObject; WriteFile stream 21; )"
        R"(ResumeThread; CloseHandle thread; WriteFile stream 19; )"
        R"(WaitForSingleObject process INFINITE; WriteFile stream 22; GetExitCodeProcess; )"
        R"(CloseHandle process; CloseHandle job; DefineDosDeviceW 0xf Y: \??\C:\Work\Scratch; )"
        R"(DefineDosDeviceW 0xf Z: \??\C:\Work\Proj; )"
        R"(DeleteFileW \\?\C:\Work\.Scratch.norix-native-sandbox-mounts; FreeSid)");
    EXPECT_EQ(seen_.current_directory, "Z:\\");
    EXPECT_EQ(seen_.argv, (Strings{"Z:\\bin\\tool.exe", "Z:\\src\\main.c"}));
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("agent"));
    EXPECT_TRUE(seen_.in_kill_on_close_job);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen_.std_handles[i], GetStdHandle(STD_INPUT_HANDLE - i)) << i;
    }
    expect_nothing_left();
}

// A host path in an argument and in a variable, with the project on Z: and the scratch directory
// on Y:. Variables take escaped paths first ("C:\\w"), then plain ones, each time the project
// before the scratch directory; a value with an unpaired surrogate (read back as U+FFFD) stays.
TEST_F(SimulatedWindows, HostPathsInArgumentsAndVariablesBecomeTheMounts) {
    const std::tuple<const char*, const char*, std::string, std::string, std::string> cases[] = {
        // project, scratch, text, argument, variable
        {"C:\\w", "C:\\w\\s", "C:\\w\\s\\f;C:\\w\\a", "Z:\\s\\f;Z:\\a", "Z:\\s\\f;Z:\\a"},
        {"C:\\w", "C:\\w\\s", "C:\\\\w\\\\s\\\\f", "C:\\\\w\\\\s\\\\f", "Z:\\\\s\\\\f"},
        {"C:\\w", "C:\\w\\s", "C:\\w\\x\xED\xA0\x80", "Z:\\x\xED\xA0\x80", "C:\\w\\x\xEF\xBF\xBD"},
        {"C:\\", "D:\\s", "C:\\x;D:\\s\\f", "Z:x;Y:\\f", "Z:x;Y:\\f"},
        {"C:\\", "D:\\s", "C:\\\\x", "Z:\\x", "Z:x"},
    };
    for (const auto& [project, scratch, text, argument, variable] : cases) {
        const SandboxRequest request{.project = to_wide(std::string("\\\\?\\") + project),
                                     .scratch = to_wide(std::string("\\\\?\\") + scratch),
                                     .arguments = {text}};
        EXPECT_EQ(translate_arguments(request, "Z:\\", "Y:\\"), Strings{argument}) << text;
        sim::set_environment({"V=" + text});
        rewrite_environment(request, "Z:\\", "Y:\\");
        EXPECT_EQ(sim::environment(), Strings{"V=" + variable}) << text;
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
    sim::inject(fault_on("WaitForSingleObject", WAIT_FAILED, 6, 2));
    EXPECT_EQ(run_with(standard_arguments()), 125);
    EXPECT_EQ(sim::stderr_text(), "");
    expect_nothing_left();
}

TEST_F(SandboxRun, LockAbandonedByALauncherThatDiedIsTakenOver) {
    const sim::Dword dead = sim::start_launcher();
    {
        const sim::ProcessScope scope(dead);
        const HANDLE held = CreateMutexW(
            nullptr, FALSE, to_wide("Local\\Norix.NativeSandbox.DriveAllocation").c_str());
        ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    }
    int status = -1;
    std::thread waiting([&] { status = run_with(standard_arguments()); });
    // The run waits on the lock, without a time limit, until the holder dies.
    while (sim::journal_of("WaitForSingleObject mutex INFINITE").size() < 2) {
        std::this_thread::yield();
    }
    sim::end_launcher(dead);
    waiting.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs_, 1);
    expect_nothing_left();
}

} // namespace
