// The launcher's environment with the host directories rewritten onto the mounts.
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

    // The environment after the rewrite, joined.
    std::string rewrite(const Strings& environment) {
        sim::set_environment(environment);
        rewrite_environment(request, "X:\\", "Y:\\");
        return joined(sim::environment());
    }

    SandboxRequest request;
};

// The calls, and the failures, are in the run's table and journal.
TEST_F(EnvironmentRewrite, RewritesValuesNamingTheHostDirectories) {
    EXPECT_EQ(
        rewrite({"=C:=C:\\Work\\Proj", "Path=C:\\Work\\Proj\\bin;C:\\Windows",
                 "EXACT=C:\\Work\\Proj", "escaped=C:\\\\Work\\\\Proj\\\\src",
                 "LOWER=c:\\work\\proj\\bin", "SIBLING=C:\\Work\\Project2;C:\\Work\\Proj.txt",
                 "QUOTED=\"C:\\Work\\Proj\"", "SCRATCH=C:\\Work\\Scratch\\t;C:\\\\Work\\\\Scratch",
                 "=NOVALUE"}),
        R"(=C:=X:; Path=X:\bin;C:\Windows; EXACT=X:; escaped=X:\\src; LOWER=c:\work\proj\bin; )"
        R"(SIBLING=C:\Work\Project2;C:\Work\Proj.txt; QUOTED="X:"; SCRATCH=Y:\t;Y:; =NOVALUE)");
    request.scratch =
        to_wide("\\\\?\\C:\\Work\\Proj\\tmp"); // inside the project: the project's form
    EXPECT_EQ(rewrite({"A=C:\\Work\\Proj\\tmp\\a"}), "A=X:\\tmp\\a");
    request.project = to_wide("\\\\?\\D:\\"); // escaped forms first: "D:\" starts "D:\\x" too
    EXPECT_EQ(rewrite({"A=D:\\\\x", "B=D:\\x"}), "A=X:x; B=X:x");
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

} // namespace
