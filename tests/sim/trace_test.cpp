#include "common/trace.hpp"
#include "platform/simulated/control.hpp"
#include "sim/fault.hpp"

#include <gtest/gtest.h>

namespace {

class StageTrace : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    static void switch_on(const char* value = "") {
        SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), to_wide(value).c_str());
    }
};

TEST_F(StageTrace, SilentWithoutTheVariable) {
    trace_stage("acl-read");
    EXPECT_EQ(sim::stderr_text(), "");
    EXPECT_TRUE(sim::journal_of("WriteFile").empty());
}

TEST_F(StageTrace, AnyValueSwitchesItOnAndEveryCallLooksAgain) {
    switch_on();
    trace_stage("acl-read");
    SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), nullptr);
    trace_stage("acl-merge");
    switch_on("0");
    trace_stage("acl-set");
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=acl-read\nsandbox-stage=acl-set\n");
}

TEST_F(StageTrace, PathLineShowsAnUnpairedSurrogateAsReplacement) {
    switch_on();
    WideString path = to_wide("\\\\?\\C:\\Work\\x");
    path.push_back(static_cast<WCHAR>(0xD800));
    trace_stage("grant-mount", path);
    EXPECT_EQ(sim::stderr_text(),
              "sandbox-stage=grant-mount path=\\\\?\\C:\\Work\\x\xEF\xBF\xBD\n");
}

TEST_F(StageTrace, ConsoleGetsUtf16AndPipeGetsBytes) {
    switch_on();
    sim::set_stderr(sim::StreamKind::Console);
    trace_stage("wait");
    EXPECT_EQ(sim::journal_of("WriteConsoleW"), std::vector<std::string>{"WriteConsoleW 19"});
    EXPECT_TRUE(sim::journal_of("WriteFile").empty());
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=wait\n");

    sim::set_stderr(sim::StreamKind::File);
    trace_stage("settled");
    EXPECT_EQ(sim::journal_of("WriteFile"), std::vector<std::string>{"WriteFile stream 22"});
    EXPECT_EQ(sim::stderr_text(), "sandbox-stage=settled\n");
}

TEST_F(StageTrace, NoStandardErrorDropsTheLine) {
    switch_on();
    sim::set_stderr(std::nullopt);
    EXPECT_NO_THROW(trace_stage("resume"));
}

TEST_F(StageTrace, FailedWriteIsAFatalStop) {
    switch_on();
    const auto stop_text = [] {
        try {
            trace_stage("resume");
        } catch (const FatalStop& stop) {
            return std::string(stop.what());
        }
        return std::string("no fatal stop");
    };
    sim::set_stderr(sim::StreamKind::Pipe, 232);
    EXPECT_EQ(stop_text(), "cannot write stage trace to standard error: Win32 232");
    // A write that takes nothing but reports success, leaving a stale last-error value.
    sim::set_stderr(sim::StreamKind::Pipe);
    sim::inject(fault_on("WriteFile", TRUE, 5));
    EXPECT_EQ(stop_text(), "cannot write stage trace to standard error: Win32 29");
}

TEST_F(StageTrace, KeepsTheLastErrorForTheFailureThatFollows) {
    switch_on();
    SetLastError(5);
    trace_stage("acl-done");
    EXPECT_EQ(win32_failure("cannot set").message, "cannot set: Win32 5");
}

TEST(Win32Failure, LastErrorInUnsignedDecimal) {
    SetLastError(2);
    EXPECT_EQ(win32_failure("cannot create AppContainer process").message,
              "cannot create AppContainer process: Win32 2");
    SetLastError(0xC0000005U);
    EXPECT_EQ(win32_failure("x").message, "x: Win32 3221225477");
}

} // namespace
