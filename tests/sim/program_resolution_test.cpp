// Where the program is found: in a mount, or under a trusted runtime root.
#include "paths/program_resolution.hpp"
#include "sim/sim_fixture.hpp"

namespace {

class ProgramResolution : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        // With siblings whose names begin with the project's and a trusted root's.
        for (const char* file :
             {"C:\\Work\\Proj\\bin\\tool.exe", "C:\\Work\\Scratch\\s.exe", "C:\\Work\\Proj2\\o.exe",
              "C:\\Windows2\\o.exe", "C:\\Windows\\System32\\cmd.exe"}) {
            sim::make_file(file);
        }
        sim::make_junction("C:\\Work\\Proj\\link", "C:\\Work\\Proj2");
    }

    // The resolved program, or its failure text.
    std::string resolve(const char* program) {
        request.program = program;
        auto resolved = resolve_program(request, sandbox_mounts(request, "X:\\", "Y:\\"));
        return resolved ? *resolved : resolved.error().message;
    }

    SandboxRequest request{.project = to_wide("\\\\?\\C:\\Work\\Proj"),
                           .scratch = to_wide("\\\\?\\C:\\Work\\Scratch")};
};

} // namespace

// The run's table has the failures and the run the program in the project.
TEST_F(ProgramResolution, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"cmd.exe", "cmd.exe"}, // one relative element is left to the system's search
        {"bin/tool.exe", "X:\\bin\\tool.exe"},
        {"BIN\\TOOL.EXE", "X:\\bin\\tool.exe"}, // the mount form, in the case on disk
        {"\\Windows\\System32\\cmd.exe", "relative sandbox program escaped the project mount"},
        {"C:\\Work\\Proj2\\o.exe",
         "absolute sandbox program is outside trusted system runtime roots"},
        {"C:\\Windows2\\o.exe", "absolute sandbox program is outside trusted system runtime roots"},
        {"..\\Scratch\\s.exe", "Y:\\s.exe"},
        {"link\\o.exe", "relative sandbox program escaped the project mount"},
        {"c:\\windows\\system32\\CMD.EXE", "C:\\Windows\\System32\\cmd.exe"},
    };
    for (const auto& [program, expected] : cases) {
        EXPECT_EQ(resolve(program), expected) << program;
    }
    request.scratch = to_wide("\\\\?\\C:\\Work\\Proj\\bin"); // the project is looked at first
    EXPECT_EQ(resolve("C:\\Work\\Proj\\bin\\tool.exe"), "X:\\bin\\tool.exe");
}

TEST_F(ProgramResolution, TrustedRootsComeFromTheEnvironmentAsItStands) {
    const auto roots = [] {
        Strings texts;
        for (const auto& root : trusted_runtime_roots()) {
            texts.push_back(to_utf8(root));
        }
        return joined(texts);
    };
    EXPECT_EQ(roots(), R"(\\?\C:\Windows; \\?\C:\Program Files; \\?\C:\Program Files (x86))");
    // Longer than the first buffer the value is read into.
    const std::string deep = "C:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
    sim::make_directory(deep);
    sim::set_environment({"SystemRoot=C:\\Missing", "ProgramFiles(x86)=" + deep, "ProgramFiles="});
    EXPECT_EQ(roots(), "\\\\?\\" + deep);
    EXPECT_EQ(resolve("C:\\Windows\\System32\\cmd.exe"),
              "absolute sandbox program is outside trusted system runtime roots");
}
