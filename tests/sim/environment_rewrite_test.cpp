// The launcher's environment with the host directories rewritten onto the mounts.
#include "common/failure.hpp"
#include "paths/environment_rewrite.hpp"
#include "sim/sim_fixture.hpp"

namespace {

class EnvironmentRewrite : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        request.project = to_wide("\\\\?\\C:\\Work\\Proj");
        request.scratch = to_wide("\\\\?\\C:\\Work\\Scratch");
    }

    // The environment after the rewrite, or the fatal stop it ends in.
    Strings rewrite(const Strings& environment) {
        sim::set_environment(environment);
        sim::clear_journal();
        try {
            rewrite_environment(request, "X:\\", "Y:\\");
        } catch (const FatalStop& stop) {
            return {stop.what()};
        }
        return sim::environment();
    }

    SandboxRequest request;
};

TEST_F(EnvironmentRewrite, RewritesValuesNamingTheHostDirectories) {
    EXPECT_EQ(rewrite({"=C:=C:\\Work\\Proj", "Path=C:\\Work\\Proj\\bin;C:\\Windows",
                       "EXACT=C:\\Work\\Proj", "escaped=C:\\\\Work\\\\Proj\\\\src",
                       "LOWER=c:\\work\\proj\\bin", "SIBLING=C:\\Work\\Project2;C:\\Work\\Proj.txt",
                       "QUOTED=\"C:\\Work\\Proj\"",
                       "SCRATCH=C:\\Work\\Scratch\\t;C:\\\\Work\\\\Scratch", "=NOVALUE"}),
              (Strings{"=C:=X:", "Path=X:\\bin;C:\\Windows", "EXACT=X:", "escaped=X:\\\\src",
                       "LOWER=c:\\work\\proj\\bin", "SIBLING=C:\\Work\\Project2;C:\\Work\\Proj.txt",
                       "QUOTED=\"X:\"", "SCRATCH=Y:\\t;Y:", "=NOVALUE"}));
    // The block is given back before the first change; only changed values are written back, in
    // block order, under their names as they stood.
    EXPECT_EQ(
        sim::journal(),
        (Strings{
            "GetEnvironmentStringsW", "FreeEnvironmentStringsW",
            "SetEnvironmentVariableW =C:=X:", "SetEnvironmentVariableW Path=X:\\bin;C:\\Windows",
            "SetEnvironmentVariableW EXACT=X:", "SetEnvironmentVariableW escaped=X:\\\\src",
            "SetEnvironmentVariableW QUOTED=\"X:\"", "SetEnvironmentVariableW SCRATCH=Y:\\t;Y:"}));
}

TEST_F(EnvironmentRewrite, NestedAndDriveRootDirectories) {
    request.scratch = to_wide("\\\\?\\C:\\Work\\Proj\\tmp");
    EXPECT_EQ(rewrite({"A=C:\\Work\\Proj\\tmp\\a"}), Strings{"A=X:\\tmp\\a"});
    request.project = to_wide("\\\\?\\D:\\"); // escaped forms first: "D:\" starts "D:\\x" too
    EXPECT_EQ(rewrite({"A=D:\\\\x", "B=D:\\x"}), (Strings{"A=X:x", "B=X:x"}));
}

TEST_F(EnvironmentRewrite, SkipsAValueWithAnUnpairedSurrogate) {
    WideString value = to_wide("C:\\Work\\Proj\\");
    value.push_back(WCHAR(0xD800));
    sim::set_environment({"B=C:\\Work\\Proj"});
    ASSERT_TRUE(SetEnvironmentVariableW(to_wide("A").c_str(), value.c_str()));
    sim::clear_journal();
    rewrite_environment(request, "X:\\", "Y:\\");
    EXPECT_EQ(sim::journal_of("SetEnvironmentVariableW"), Strings{"SetEnvironmentVariableW B=X:"});
}

TEST_F(EnvironmentRewrite, FailuresAreFatalStops) {
    sim::inject(fault_on("GetEnvironmentStringsW", 0, 8));
    EXPECT_EQ(rewrite({}),
              Strings{"failure getting env string from OS: Not enough memory "
                      "resources are available to process this command. (os error 8)"});
    sim::inject(fault_for("SetEnvironmentVariableW", "A", 0, 5));
    EXPECT_EQ(rewrite({"A=C:\\Work\\Proj"}),
              Strings{"failed to set environment variable \"A\" to \"X:\": Access is denied. (os "
                      "error 5)"});
    EXPECT_EQ(sim::unfreed_blocks(), 0U);
}

} // namespace
