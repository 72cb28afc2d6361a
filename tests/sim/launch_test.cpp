#include "platform/simulated/control.hpp"
#include "run/app_container.hpp"
#include "run/child_command_line.hpp"
#include "run/launch.hpp"
#include "sim/fault.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr const char* TOOL = "C:\\Work\\Proj\\tool.exe";

class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        sim::make_directory("C:\\Work\\Proj");
        SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), to_wide("1").c_str());
        sid_ = *obtain_profile_sid(to_wide("norix-test"));
        exit_with(0);
        sim::clear_journal();
    }

    void exit_with(sim::Dword code) {
        sim::register_program(TOOL, [this, code](const sim::ChildView& view) {
            seen_ = view;
            ran_ = true;
            return code;
        });
    }

    Result<int> launch(const std::vector<std::string>& arguments = {}) {
        return launch_sandbox_child(sid_.get(), build_command_line(TOOL, arguments),
                                    "C:\\Work\\Proj\\");
    }

    // The journal lines of the calls that release what a launch holds.
    static std::vector<std::string> releases() {
        std::vector<std::string> lines;
        for (const auto& line : sim::journal()) {
            if (line.starts_with("CloseHandle") || line.starts_with("TerminateProcess") ||
                line.starts_with("DeleteProcThreadAttributeList")) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    UniqueSid sid_;
    sim::ChildView seen_;
    std::atomic<bool> ran_ = false;
};

TEST_F(Launch, ChildRunsSuspendedFirstInsideTheJobAsTheAppContainer) {
    const auto environment = sim::environment();
    const std::string command_line = "C:\\Work\\Proj\\tool.exe \"a b\" \"x\\\"y\" \"\"";
    const auto result = launch({"a b", "x\"y", ""});
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(*result, 0);
    EXPECT_EQ(seen_.argv, (std::vector<std::string>{TOOL, "a b", "x\"y", ""}));
    EXPECT_EQ(seen_.app_container_sid, sim::app_container_sid("norix-test"));
    EXPECT_EQ(seen_.capability_count, 0U);
    EXPECT_TRUE(seen_.in_kill_on_close_job);
    EXPECT_EQ(seen_.current_directory, "C:\\Work\\Proj");
    EXPECT_EQ(seen_.environment, environment);
    EXPECT_EQ(seen_.std_handles[0], GetStdHandle(STD_INPUT_HANDLE));
    EXPECT_EQ(seen_.std_handles[1], GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(seen_.std_handles[2], GetStdHandle(STD_ERROR_HANDLE));

    std::vector<std::string> calls;
    for (const auto& line : sim::journal()) {
        if (!line.starts_with("GetEnvironmentVariableW") && !line.starts_with("WriteFile")) {
            calls.push_back(line);
        }
    }
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "InitializeProcThreadAttributeList null 1 0",
                         "InitializeProcThreadAttributeList buffer 1 48",
                         "UpdateProcThreadAttribute 0x20009 24",
                         "CreateProcessW 0x80004 inherit=1 " + command_line,
                         "DeleteProcThreadAttributeList",
                         "CreateJobObjectW",
                         "SetInformationJobObject 9 144 0x2000",
                         "AssignProcessToJobObject",
                         "ResumeThread",
                         "CloseHandle thread",
                         "WaitForSingleObject process",
                         "GetExitCodeProcess",
                         "CloseHandle process",
                         "CloseHandle job",
                     }));
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=create-process\nsandbox-stage=assign-job\n"
                                  "sandbox-stage=resume\nsandbox-stage=wait\n"
                                  "sandbox-stage=settled\n");
    EXPECT_TRUE(sim::open_handles().empty());
    EXPECT_TRUE(sim::live_processes().empty());
    EXPECT_EQ(sim::live_jobs(), 0U);
}

TEST_F(Launch, ExitCodesAbove255BecomeTheFallback) {
    const std::pair<sim::Dword, int> cases[] = {
        {0, 0}, {255, 255}, {256, 125}, {259, 125}, {0xC0000005U, 125}};
    for (const auto& [code, expected] : cases) {
        exit_with(code);
        const auto result = launch();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, expected) << code;
    }
}

TEST_F(Launch, EveryFailureReleasesInOrderAndLeavesNoProcess) {
    const std::uint64_t invalid_handle = ~std::uint64_t{0};
    struct Case {
        sim::Fault fault;
        const char* message;
        const char* last_stage; // empty: no trace line yet
        std::vector<std::string> releases;
        bool runs;
    };
    const std::vector<std::string> created_only = {"DeleteProcThreadAttributeList",
                                                   "TerminateProcess 1", "CloseHandle thread",
                                                   "CloseHandle process"};
    const Case cases[] = {
        {fault_on("InitializeProcThreadAttributeList", 0, 87),
         "cannot size process attribute list: Win32 87",
         "",
         {},
         false},
        {fault_on("InitializeProcThreadAttributeList", 0, 8, 2),
         "cannot initialize process attribute list: Win32 8",
         "",
         {},
         false},
        {fault_on("UpdateProcThreadAttribute", 0, 50),
         "cannot apply AppContainer process attribute: Win32 50",
         "",
         {"DeleteProcThreadAttributeList"},
         false},
        {fault_on("CreateProcessW", 0, 5),
         "cannot create AppContainer process: Win32 5",
         "create-process",
         {"DeleteProcThreadAttributeList"},
         false},
        {fault_on("CreateJobObjectW", 0, 1450), "cannot create sandbox job: Win32 1450",
         "assign-job", created_only, false},
        {fault_on("CreateJobObjectW", invalid_handle, 6), "cannot create sandbox job: Win32 6",
         "assign-job", created_only, false},
        {fault_on("SetInformationJobObject", 0, 87),
         "cannot configure sandbox job: Win32 87",
         "assign-job",
         {"DeleteProcThreadAttributeList", "CloseHandle job", "TerminateProcess 1",
          "CloseHandle thread", "CloseHandle process"},
         false},
        {fault_on("AssignProcessToJobObject", 0, 5),
         "cannot assign AppContainer process to job: Win32 5",
         "assign-job",
         {"DeleteProcThreadAttributeList", "TerminateProcess 1", "CloseHandle thread",
          "CloseHandle process", "CloseHandle job"},
         false},
        {fault_on("ResumeThread", 0xFFFFFFFFU, 5),
         "cannot resume AppContainer process: Win32 5",
         "resume",
         {"DeleteProcThreadAttributeList", "CloseHandle thread", "CloseHandle process",
          "CloseHandle job"},
         false},
        {fault_on("GetExitCodeProcess", 0, 6),
         "cannot read AppContainer exit code: Win32 6",
         "settled",
         {"DeleteProcThreadAttributeList", "CloseHandle thread", "CloseHandle process",
          "CloseHandle job"},
         true},
    };
    for (const auto& c : cases) {
        sim::set_stderr(sim::StreamKind::Pipe);
        sim::clear_journal();
        ran_ = false;
        sim::inject(c.fault);
        const auto result = launch();
        ASSERT_FALSE(result.has_value()) << c.message;
        EXPECT_EQ(result.error().message, c.message);
        const std::string trace = sim::stderr_text();
        EXPECT_EQ(trace.empty() ? "" : trace.substr(trace.rfind('=', trace.size() - 2) + 1),
                  *c.last_stage == 0 ? "" : std::string(c.last_stage) + "\n")
            << c.message;
        EXPECT_EQ(releases(), c.releases) << c.message;
        EXPECT_EQ(ran_, c.runs) << c.message;
        EXPECT_TRUE(sim::live_processes().empty()) << c.message;
        EXPECT_TRUE(sim::open_handles().empty()) << c.message;
        EXPECT_EQ(sim::live_jobs(), 0U) << c.message;
    }
}

TEST_F(Launch, GrandchildEndsWhenTheJobHandleCloses) {
    std::atomic<sim::Dword> grandchild = 0;
    sim::register_program(TOOL, [&](const sim::ChildView&) {
        grandchild = sim::start_descendant();
        return 3;
    });
    ASSERT_EQ(launch(), 3);
    EXPECT_NE(grandchild, 0U);
    EXPECT_TRUE(sim::live_processes().empty());
    EXPECT_TRUE(sim::exit_code_of(grandchild).has_value());
}

TEST_F(Launch, GrandchildOutlivesTheChildWhileTheJobStaysOpen) {
    sim::register_program(TOOL, [](const sim::ChildView&) {
        sim::start_descendant();
        return 0;
    });
    sim::inject(fault_on("CloseHandle", 0, 5, 3)); // thread, process, then the job
    ASSERT_EQ(launch(), 0);
    EXPECT_EQ(sim::live_processes().size(), 1U);
}

} // namespace
