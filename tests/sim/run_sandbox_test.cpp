// Whole runs through the process entry, in the simulated Windows: every failure point with its
// line, status and release order, and what a successful run gives the child.
#include "entry/process_entry.hpp"
#include "run/child_command_line.hpp"
#include "sim/fault.hpp"
#include "sim_fixture.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr const char* RECORD = "\\\\?\\C:\\Work\\.Scratch.norix-native-sandbox-mounts";

std::vector<std::string> standard_arguments() {
    return {"--project",
            "C:\\Work\\Proj",
            "--scratch",
            "C:\\Work\\Scratch",
            "--profile",
            "agent",
            "--network",
            "deny",
            "--",
            "bin\\tool.exe",
            "C:\\Work\\Proj\\src\\main.c"};
}

int run_with(const std::vector<std::string>& arguments) {
    const std::string line = build_command_line("norix-native-sandbox.exe", arguments);
    return run_process(to_wide(line));
}

// The journal lines of the calls that release what a run holds, in order.
std::vector<std::string> releases() {
    std::vector<std::string> lines;
    for (const auto& line : sim::journal()) {
        const bool run_handle = line == "CloseHandle mutex" || line == "CloseHandle process" ||
                                line == "CloseHandle thread" || line == "CloseHandle job";
        if (run_handle || line.starts_with("DefineDosDeviceW 0xf") || line == "ReleaseMutex" ||
            line.starts_with("DeleteFileW") || line == "FreeSid" ||
            line.starts_with("TerminateProcess")) {
            lines.push_back(line);
        }
    }
    return lines;
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
        sim::register_program("C:\\Work\\Proj\\bin\\tool.exe", [this](const sim::ChildView& view) {
            const std::lock_guard lock(mutex_);
            seen_ = view;
            ++runs_;
            return exit_code_;
        });
        sim::clear_journal();
    }

    // The letters defined onto the run's directories.
    static std::vector<std::string> run_letters() {
        std::vector<std::string> letters;
        for (const auto& letter : sim::defined_letters()) {
            for (const auto& target : sim::dos_device_targets(letter)) {
                if (target.starts_with("\\??\\C:\\Work")) {
                    letters.push_back(letter);
                }
            }
        }
        return letters;
    }

    // Nothing of the run is left: letters, record, lock, handles, SID, processes, jobs, blocks.
    static void expect_nothing_left() {
        EXPECT_EQ(run_letters(), std::vector<std::string>{});
        EXPECT_FALSE(sim::path_exists(RECORD));
        EXPECT_EQ(sim::owned_mutexes(), std::vector<std::string>{});
        EXPECT_EQ(sim::open_handles(), std::vector<std::string>{});
        EXPECT_EQ(sim::unfreed_sids(), 0U);
        EXPECT_EQ(sim::live_processes(), std::vector<sim::Dword>{});
        EXPECT_EQ(sim::live_jobs(), 0U);
        EXPECT_EQ(sim::unfreed_blocks(), 0U);
    }

    std::mutex mutex_;
    sim::ChildView seen_;
    int runs_ = 0;
    sim::Dword exit_code_ = 0;
};

const std::vector<std::string> MOUNTS_AND_AFTER = {
    "DefineDosDeviceW 0xf Y: \\??\\C:\\Work\\Scratch",
    "DefineDosDeviceW 0xf Z: \\??\\C:\\Work\\Proj",
    std::string("DeleteFileW ") + RECORD,
    "FreeSid",
};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FailureRow {
    const char* name;
    std::function<void(std::vector<std::string>&)> arrange;
    std::string line; // on standard error
    int status;
    std::vector<std::string> released;
    bool child_resumed = false;
};

TEST_F(SandboxRun, EveryFailurePointReleasesInOrderAndLeavesNothing) {
    const auto lock_then = [](std::vector<std::string> rest) {
        return concat({"ReleaseMutex", "CloseHandle mutex"}, rest);
    };
    const std::vector<std::string> launched_then =
        lock_then(std::vector<std::string>(MOUNTS_AND_AFTER));
    const std::vector<FailureRow> rows = {
        {"profile creation",
         [](auto&) { sim::inject(fault_on("CreateAppContainerProfile", 0x80070005)); },
         "native sandbox failed: cannot create AppContainer profile: HRESULT 0x80070005",
         126,
         {}},
        {"sid derivation",
         [](auto&) {
             PSID sid = nullptr;
             const auto name = to_wide("agent");
             CreateAppContainerProfile(name.c_str(), name.c_str(), name.c_str(), nullptr, 0, &sid);
             FreeSid(sid);
             sim::clear_journal();
             sim::inject(fault_on("DeriveAppContainerSidFromAppContainerName", 0x80070057));
         },
         "native sandbox failed: cannot derive AppContainer SID: HRESULT 0x80070057",
         126,
         {}},
        {"project grant read",
         [](auto&) { sim::inject(fault_on("GetNamedSecurityInfoW", 5)); },
         "native sandbox failed: cannot read ACL for \\\\?\\C:\\Work\\Proj: Win32 5",
         126,
         {"FreeSid"}},
        {"scratch grant merge",
         [](auto&) { sim::inject(fault_on("SetEntriesInAclW", 87, 0, 2)); },
         "native sandbox failed: cannot merge ACL for \\\\?\\C:\\Work\\Scratch: Win32 87",
         126,
         {"FreeSid"}},
        {"scratch grant write",
         [](auto&) { sim::inject(fault_on("SetNamedSecurityInfoW", 1314, 0, 2)); },
         "native sandbox failed: cannot set ACL for \\\\?\\C:\\Work\\Scratch: Win32 1314",
         126,
         {"FreeSid"}},
        {"scratch at a drive root",
         [](auto& arguments) {
             sim::add_volume('S');
             arguments[3] = "S:\\";
         },
         "native sandbox failed: sandbox scratch path has no parent",
         126,
         {"FreeSid"}},
        {"lock creation",
         [](auto&) { sim::inject(fault_on("CreateMutexW", 0, 5)); },
         "native sandbox failed: cannot create sandbox allocation lock: Win32 5",
         126,
         {std::string("DeleteFileW ") + RECORD, "FreeSid"}},
        {"lock wait",
         [](auto&) { sim::inject(fault_on("WaitForSingleObject", 0xFFFFFFFF, 6)); },
         "native sandbox failed: cannot acquire sandbox allocation lock: 4294967295",
         126,
         {"CloseHandle mutex", std::string("DeleteFileW ") + RECORD, "FreeSid"}},
        {"no letter for the project",
         [](auto&) {
             for (char letter = 'D'; letter <= 'Z'; ++letter) {
                 sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\Busy");
             }
         },
         "native sandbox failed: no DOS drive slot is available for the native sandbox", 126,
         lock_then({std::string("DeleteFileW ") + RECORD, "FreeSid"})},
        {"project on a share",
         [](auto& arguments) {
             sim::add_share("srv", "share");
             sim::make_directory("\\\\srv\\share\\proj");
             arguments[1] = "\\\\srv\\share\\proj";
         },
         "native sandbox failed: Windows sandbox mounts must use local drive paths", 126,
         lock_then({std::string("DeleteFileW ") + RECORD, "FreeSid"})},
        {"no letter for the scratch directory",
         [](auto&) {
             for (char letter = 'D'; letter <= 'Y'; ++letter) {
                 sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\Busy");
             }
         },
         "native sandbox failed: no DOS drive slot is available for the native sandbox", 126,
         concat({"DefineDosDeviceW 0xf Z: \\??\\C:\\Work\\Proj"},
                lock_then({std::string("DeleteFileW ") + RECORD, "FreeSid"}))},
        {"record write", [](auto&) { sim::inject(fault_for("CreateFileW", RECORD, 0, 5)); },
         "native sandbox failed: cannot write sandbox mount record: Access is denied. (os error "
         "5)",
         126,
         concat({"DefineDosDeviceW 0xf Y: \\??\\C:\\Work\\Scratch",
                 "DefineDosDeviceW 0xf Z: \\??\\C:\\Work\\Proj"},
                lock_then({std::string("DeleteFileW ") + RECORD, "FreeSid"}))},
        {"program that cannot be resolved",
         [](auto& arguments) { arguments[9] = "bin\\missing.exe"; },
         "native sandbox failed: cannot resolve sandbox program "
         "\\\\?\\C:\\Work\\Proj\\bin\\missing.exe: The system cannot find the file specified. "
         "(os error 2)",
         126, launched_then},
        {"relative program escaping", [](auto& arguments) { arguments[9] = "..\\..\\x.exe"; },
         "native sandbox failed: relative sandbox program escaped the project mount", 126,
         launched_then},
        {"absolute program outside the trusted roots",
         [](auto& arguments) { arguments[9] = "C:\\Other\\x.exe"; },
         "native sandbox failed: absolute sandbox program is outside trusted system runtime "
         "roots",
         126, launched_then},
        {"attribute list size",
         [](auto&) { sim::inject(fault_on("InitializeProcThreadAttributeList", 0, 87)); },
         "native sandbox failed: cannot size process attribute list: Win32 87", 126, launched_then},
        {"attribute list initialisation",
         [](auto&) { sim::inject(fault_on("InitializeProcThreadAttributeList", 0, 8, 2)); },
         "native sandbox failed: cannot initialize process attribute list: Win32 8", 126,
         launched_then},
        {"AppContainer attribute",
         [](auto&) { sim::inject(fault_on("UpdateProcThreadAttribute", 0, 50)); },
         "native sandbox failed: cannot apply AppContainer process attribute: Win32 50", 126,
         launched_then},
        {"process creation", [](auto&) { sim::inject(fault_on("CreateProcessW", 0, 2)); },
         "native sandbox failed: cannot create AppContainer process: Win32 2", 126, launched_then},
        {"job creation", [](auto&) { sim::inject(fault_on("CreateJobObjectW", 0, 5)); },
         "native sandbox failed: cannot create sandbox job: Win32 5", 126,
         concat({"ReleaseMutex", "CloseHandle mutex", "TerminateProcess 1", "CloseHandle thread",
                 "CloseHandle process"},
                MOUNTS_AND_AFTER)},
        {"job configuration",
         [](auto&) { sim::inject(fault_on("SetInformationJobObject", 0, 87)); },
         "native sandbox failed: cannot configure sandbox job: Win32 87", 126,
         concat({"ReleaseMutex", "CloseHandle mutex", "CloseHandle job", "TerminateProcess 1",
                 "CloseHandle thread", "CloseHandle process"},
                MOUNTS_AND_AFTER)},
        {"job assignment", [](auto&) { sim::inject(fault_on("AssignProcessToJobObject", 0, 5)); },
         "native sandbox failed: cannot assign AppContainer process to job: Win32 5", 126,
         concat({"ReleaseMutex", "CloseHandle mutex", "TerminateProcess 1", "CloseHandle thread",
                 "CloseHandle process", "CloseHandle job"},
                MOUNTS_AND_AFTER)},
        {"resume", [](auto&) { sim::inject(fault_on("ResumeThread", 0xFFFFFFFF, 5)); },
         "native sandbox failed: cannot resume AppContainer process: Win32 5", 126,
         concat({"ReleaseMutex", "CloseHandle mutex", "CloseHandle thread", "CloseHandle process",
                 "CloseHandle job"},
                MOUNTS_AND_AFTER)},
        {"exit code", [](auto&) { sim::inject(fault_on("GetExitCodeProcess", 0, 6)); },
         "native sandbox failed: cannot read AppContainer exit code: Win32 6", 126,
         concat({"ReleaseMutex", "CloseHandle mutex", "CloseHandle thread", "CloseHandle process",
                 "CloseHandle job"},
                MOUNTS_AND_AFTER),
         true},
        {"environment snapshot (fatal stop)",
         [](auto&) { sim::inject(fault_on("GetEnvironmentStringsW", 0, 8)); },
         "native sandbox fatal error: failure getting env string from OS: Not enough memory "
         "resources are available to process this command. (os error 8)",
         101, launched_then},
        {"setting TEMP (fatal stop)",
         [](auto&) { sim::inject(fault_for("SetEnvironmentVariableW", "TEMP", 0, 8)); },
         "native sandbox fatal error: failed to set environment variable \"TEMP\" to \"Y:\\\": Not "
         "enough memory resources are available to process this command. (os error 8)",
         101, launched_then},
        {"trace line at process creation (fatal stop)",
         [](auto&) {
             sim::set_environment({"NORIX_SANDBOX_TRACE=", "SystemRoot=C:\\Windows"});
             // Twelve trace lines and the record come first; then "create-process".
             sim::inject(fault_on("WriteFile", 0, 232, 14));
         },
         "native sandbox fatal error: cannot write stage trace to standard error: Win32 232", 101,
         launched_then},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sim::reset();
        SetUp();
        std::vector<std::string> arguments = standard_arguments();
        row.arrange(arguments);
        EXPECT_EQ(run_with(arguments), row.status);
        const std::string err = sim::stderr_text();
        const auto last_line_start = err.rfind('\n', err.size() >= 2 ? err.size() - 2 : 0);
        EXPECT_EQ(err.substr(last_line_start == std::string::npos ? 0 : last_line_start + 1),
                  row.line + "\n");
        EXPECT_EQ(releases(), row.released);
        EXPECT_EQ(runs_, row.child_resumed ? 1 : 0);
        expect_nothing_left();
    }
}

TEST_F(SandboxRun, ScratchAtADriveRootIsRefusedBeforeAnyGrant) {
    sim::add_volume('S');
    const auto before = sim::dacl_entries("S:\\");
    std::vector<std::string> arguments = standard_arguments();
    arguments[3] = "S:\\";
    EXPECT_EQ(run_with(arguments), 126);
    EXPECT_EQ(sim::stderr_text(), "native sandbox failed: sandbox scratch path has no parent\n");
    EXPECT_EQ(sim::journal_of("GetNamedSecurityInfoW"), std::vector<std::string>{});
    EXPECT_EQ(sim::dacl_entries("S:\\"), before);
}

TEST_F(SandboxRun, ChildRunsOnTheMountsWithTheRewrittenEnvironment) {
    sim::set_environment(
        {"=C:=C:\\Work\\Proj", "NORIX_SANDBOX_TRACE=", "PATH=C:\\Work\\Proj\\bin;C:\\Windows",
         "ProjectOld=C:\\Work\\Project2", "SystemRoot=C:\\Windows", "TEMP=C:\\Temp"});
    EXPECT_EQ(run_with(standard_arguments()), 0);
    EXPECT_EQ(sim::stderr_text(),
              "sandbox-stage=grant-project\n"
              "sandbox-stage=grant-mount path=\\\\?\\C:\\Work\\Proj\n"
              "sandbox-stage=acl-read\nsandbox-stage=acl-merge\nsandbox-stage=acl-set\n"
              "sandbox-stage=acl-done\n"
              "sandbox-stage=grant-scratch\n"
              "sandbox-stage=grant-mount path=\\\\?\\C:\\Work\\Scratch\n"
              "sandbox-stage=acl-read\nsandbox-stage=acl-merge\nsandbox-stage=acl-set\n"
              "sandbox-stage=acl-done\n"
              "sandbox-stage=create-process\nsandbox-stage=assign-job\nsandbox-stage=resume\n"
              "sandbox-stage=wait\nsandbox-stage=settled\n");
    ASSERT_EQ(runs_, 1);
    EXPECT_EQ(seen_.current_directory, "Z:\\");
    EXPECT_EQ(seen_.argv, (std::vector<std::string>{"Z:\\bin\\tool.exe", "Z:\\src\\main.c"}));
    EXPECT_EQ(seen_.environment,
              (std::vector<std::string>{"=C:=Z:", "NORIX_PROJECT_ROOT=Z:\\",
                                        "NORIX_SANDBOX_TRACE=", "NORIX_SCRATCH_ROOT=Y:\\",
                                        "PATH=Z:\\bin;C:\\Windows", "ProjectOld=C:\\Work\\Project2",
                                        "SystemRoot=C:\\Windows", "TEMP=Y:\\", "TMP=Y:\\"}));
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("agent"));
    EXPECT_EQ(seen_.capability_count, 0U);
    EXPECT_TRUE(seen_.in_kill_on_close_job);

    // What stays: the profile and one entry for its SID on each directory.
    expect_nothing_left();
    EXPECT_TRUE(sim::profile_exists("agent"));
    for (const char* directory : {"C:\\Work\\Proj", "C:\\Work\\Scratch"}) {
        const auto entries = sim::dacl_entries(directory);
        ASSERT_TRUE(entries);
        EXPECT_EQ(std::ranges::count(
                      *entries, sim::AccessEntry{sim::app_container_sid("agent"), 0x001301BF, 3}),
                  1)
            << directory;
    }
}

TEST_F(SandboxRun, ExitCodesPassBackOrFallBack) {
    const std::pair<sim::Dword, int> cases[] = {{0, 0},     {255, 255},        {256, 125},
                                                {259, 125}, {0xC0000005, 125}, {126, 126}};
    for (const auto& [child, status] : cases) {
        exit_code_ = child;
        EXPECT_EQ(run_with(standard_arguments()), status) << child;
        EXPECT_EQ(sim::stderr_text(), "") << child;
    }
    EXPECT_EQ(runs_, 6);
    expect_nothing_left();
}

TEST_F(SandboxRun, GrandchildEndsWithTheRun) {
    sim::Dword grandchild = 0;
    sim::register_program("C:\\Work\\Proj\\bin\\tool.exe", [&](const sim::ChildView&) {
        grandchild = sim::start_descendant();
        return sim::Dword{0};
    });
    EXPECT_EQ(run_with(standard_arguments()), 0);
    ASSERT_NE(grandchild, 0U);
    EXPECT_TRUE(sim::exit_code_of(grandchild).has_value());
    expect_nothing_left();
}

TEST_F(SandboxRun, TwoLaunchersAtOnceGetDistinctLetters) {
    std::condition_variable changed;
    std::vector<std::string> directories;
    bool overlapped = true;
    sim::register_program("C:\\Work\\Proj\\bin\\tool.exe", [&](const sim::ChildView& view) {
        std::unique_lock lock(mutex_);
        directories.push_back(view.current_directory);
        changed.notify_all();
        // Both runs hold their letters while both children run.
        if (!changed.wait_for(lock, std::chrono::seconds(10),
                              [&] { return directories.size() == 2; })) {
            overlapped = false;
        }
        return sim::Dword{0};
    });
    const sim::Dword second = sim::start_launcher();
    int statuses[2] = {-1, -1};
    std::thread other([&] {
        const sim::ProcessScope scope(second);
        statuses[1] = run_with(standard_arguments());
    });
    statuses[0] = run_with(standard_arguments());
    other.join();
    EXPECT_TRUE(overlapped);
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);
    ASSERT_EQ(directories.size(), 2U);
    std::ranges::sort(directories);
    EXPECT_EQ(directories, (std::vector<std::string>{"X:\\", "Z:\\"}));
    EXPECT_EQ(run_letters(), std::vector<std::string>{});
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
    // The run waits on the lock until the holder dies.
    while (sim::journal_of("WaitForSingleObject mutex").empty()) {
        std::this_thread::yield();
    }
    sim::end_launcher(dead);
    waiting.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs_, 1);
    expect_nothing_left();
}

} // namespace
