#include "common/failure.hpp"
#include "paths/environment_rewrite.hpp"
#include "platform/simulated/control.hpp"
#include "sim/fault.hpp"
#include "sim/sim_fixture.hpp"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

class EnvironmentRewrite : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        request.project = to_wide("\\\\?\\C:\\Work\\Proj");
        request.scratch = to_wide("\\\\?\\C:\\Work\\Scratch");
    }

    void rewrite() {
        sim::clear_journal();
        rewrite_environment(request, "X:\\", "Y:\\");
    }

    SandboxRequest request;
};

// The message of the fatal stop that `action` ends in.
template <class Action> std::string fatal_stop_of(Action action) {
    try {
        action();
    } catch (const FatalStop& stop) {
        return stop.what();
    }
    return "no fatal stop";
}

} // namespace

TEST_F(EnvironmentRewrite, RewritesValuesNamingTheHostDirectories) {
    sim::set_environment({
        "=C:=C:\\Work\\Proj",
        "Path=C:\\Work\\Proj\\bin;C:\\Windows",
        "EXACT=C:\\Work\\Proj",
        "escaped=C:\\\\Work\\\\Proj\\\\src",
        "LOWER=c:\\work\\proj\\bin",
        "SIBLING=C:\\Work\\Project2",
        "SIBLING_FILE=C:\\Work\\Proj.txt;C:\\Work\\Proj_old\\a",
        "QUOTED=\"C:\\Work\\Proj\"",
        "SCRATCH=C:\\Work\\Scratch\\t;C:\\\\Work\\\\Scratch",
        "UNRELATED=C:\\Windows",
    });
    rewrite();
    EXPECT_EQ(sim::environment(), (Strings{
                                      "=C:=X:",
                                      "Path=X:\\bin;C:\\Windows",
                                      "EXACT=X:",
                                      "escaped=X:\\\\src",
                                      "LOWER=c:\\work\\proj\\bin",
                                      "SIBLING=C:\\Work\\Project2",
                                      "SIBLING_FILE=C:\\Work\\Proj.txt;C:\\Work\\Proj_old\\a",
                                      "QUOTED=\"X:\"",
                                      "SCRATCH=Y:\\t;Y:",
                                      "UNRELATED=C:\\Windows",
                                  }));
    // Only changed values are written back, in block order, under their names as they stood.
    EXPECT_EQ(sim::journal_of("SetEnvironmentVariableW"),
              (Strings{
                  "SetEnvironmentVariableW =C:=X:",
                  "SetEnvironmentVariableW Path=X:\\bin;C:\\Windows",
                  "SetEnvironmentVariableW EXACT=X:",
                  "SetEnvironmentVariableW escaped=X:\\\\src",
                  "SetEnvironmentVariableW QUOTED=\"X:\"",
                  "SetEnvironmentVariableW SCRATCH=Y:\\t;Y:",
              }));
    EXPECT_EQ(sim::unfreed_blocks(), 0U);
}

TEST_F(EnvironmentRewrite, ScratchInsideTheProjectTakesTheProjectForm) {
    request.scratch = to_wide("\\\\?\\C:\\Work\\Proj\\tmp");
    sim::set_environment({"A=C:\\Work\\Proj\\tmp\\a"});
    rewrite();
    EXPECT_EQ(sim::environment_variable("A"), "X:\\tmp\\a");
}

TEST_F(EnvironmentRewrite, DriveRootProjectMatchesEscapedFormsFirst) {
    request.project = to_wide("\\\\?\\D:\\");
    sim::set_environment({"A=D:\\\\x", "B=D:\\x"});
    rewrite();
    EXPECT_EQ(sim::environment(), (Strings{"A=X:x", "B=X:x"}));
}

TEST_F(EnvironmentRewrite, SkipsUnpairedSurrogatesAndEntriesWithoutANameEnd) {
    sim::set_environment({"=NOVALUE", "B=C:\\Work\\Proj"});
    WideString value = to_wide("C:\\Work\\Proj\\");
    value.push_back(WCHAR(0xD800));
    ASSERT_TRUE(SetEnvironmentVariableW(to_wide("A").c_str(), value.c_str()));
    rewrite();
    EXPECT_EQ(sim::journal_of("SetEnvironmentVariableW"), Strings{"SetEnvironmentVariableW B=X:"});
}

TEST_F(EnvironmentRewrite, TheFourVariablesOverwriteWhatWasRewritten) {
    sim::set_environment({"TEMP=C:\\Work\\Scratch", "tmp=C:\\Users\\me\\Temp"});
    rewrite();
    set_environment_variable("NORIX_PROJECT_ROOT", "X:\\");
    set_environment_variable("NORIX_SCRATCH_ROOT", "Y:\\");
    set_environment_variable("TEMP", "Y:\\");
    set_environment_variable("TMP", "Y:\\");
    for (const char* name : {"NORIX_SCRATCH_ROOT", "TEMP", "TMP"}) {
        EXPECT_EQ(sim::environment_variable(name), "Y:\\") << name;
    }
    EXPECT_EQ(sim::environment_variable("NORIX_PROJECT_ROOT"), "X:\\");
}

TEST_F(EnvironmentRewrite, FailuresAreFatalStops) {
    sim::inject(fault_on("GetEnvironmentStringsW", 0, 8));
    EXPECT_EQ(fatal_stop_of([&] { rewrite(); }),
              "failure getting env string from OS: Not enough memory resources are available to "
              "process this command. (os error 8)");

    sim::set_environment({"A=C:\\Work\\Proj"});
    sim::inject(fault_for("SetEnvironmentVariableW", "A", 0, 5));
    EXPECT_EQ(fatal_stop_of([&] { rewrite(); }),
              "failed to set environment variable \"A\" to \"X:\": Access is denied. (os error 5)");
    EXPECT_EQ(sim::unfreed_blocks(), 0U);

    EXPECT_EQ(fatal_stop_of([] { set_environment_variable("BAD=NAME", "Y:\\"); }),
              "failed to set environment variable \"BAD=NAME\" to \"Y:\\\": The parameter is "
              "incorrect. (os error 87)");
}
