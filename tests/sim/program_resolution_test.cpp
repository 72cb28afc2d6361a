// Where the program is found: in a mount, or under a trusted runtime root.
#include "paths/program_resolution.hpp"
#include "sim/sim_fixture.hpp"

namespace {

class ProgramResolution : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_file("C:\\Work\\Proj\\bin\\tool.exe");
        sim::make_file("C:\\Work\\Scratch\\s.exe");
        sim::make_file("C:\\Work\\Project2\\p.exe");
        sim::make_file("C:\\x.exe");
        sim::make_file("C:\\Other\\o.exe");
        sim::make_junction("C:\\Work\\Proj\\link", "C:\\Other");
        sim::make_file("C:\\Windows\\System32\\cmd.exe");
        sim::make_file("C:\\Program Files\\App\\app.exe");
        request.project = to_wide("\\\\?\\C:\\Work\\Proj");
        request.scratch = to_wide("\\\\?\\C:\\Work\\Scratch");
    }

    // The resolved program, or its failure text.
    std::string resolve(const char* program) {
        request.program = program;
        auto resolved = resolve_program(request, "X:\\", "Y:\\");
        return resolved ? *resolved : resolved.error().message;
    }

    SandboxRequest request;
};

constexpr const char* ESCAPED = "relative sandbox program escaped the project mount";
constexpr const char* UNTRUSTED =
    "absolute sandbox program is outside trusted system runtime roots";

} // namespace

TEST_F(ProgramResolution, Table) {
    const std::pair<const char*, const char*> cases[] = {
        // One relative element is left to the system's search.
        {"cmd.exe", "cmd.exe"},
        {".", "."},
        {"C:", "C:"},
        {"\\", "\\"},
        // Inside the project or the scratch directory: the mount form, in the case on disk.
        {"bin/tool.exe", "X:\\bin\\tool.exe"},
        {"BIN\\TOOL.EXE", "X:\\bin\\tool.exe"},
        {"C:\\Work\\Proj\\bin\\tool.exe", "X:\\bin\\tool.exe"},
        {"..\\Scratch\\s.exe", "Y:\\s.exe"},
        {"C:\\Work\\Scratch\\s.exe", "Y:\\s.exe"},
        {".\\bin\\..\\bin", "X:\\bin"},
        // Relative programs that leave both directories.
        {"..\\..\\..\\..\\x.exe", ESCAPED},
        {"link\\o.exe", ESCAPED},
        {"\\Windows\\System32\\cmd.exe", ESCAPED},
        {"..\\Project2\\p.exe", ESCAPED},
        // Absolute programs outside both directories.
        {"c:\\windows\\system32\\CMD.EXE", "C:\\Windows\\System32\\cmd.exe"},
        {"C:\\Program Files\\App\\app.exe", "C:\\Program Files\\App\\app.exe"},
        {"C:\\Work\\Project2\\p.exe", UNTRUSTED},
        {"C:\\Other\\o.exe", UNTRUSTED},
        // Nothing to canonicalise.
        {"sub/tool.exe", "cannot resolve sandbox program \\\\?\\C:\\Work\\Proj\\sub\\tool.exe: The "
                         "system cannot find the path specified. (os error 3)"},
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
    sim::make_file(deep + "\\deep.exe");
    sim::set_environment({"SystemRoot=C:\\Missing", "ProgramFiles(x86)=" + deep, "ProgramFiles="});
    EXPECT_EQ(roots(), "\\\\?\\" + deep);
    EXPECT_EQ(resolve((deep + "\\deep.exe").c_str()), deep + "\\deep.exe");
    EXPECT_EQ(resolve("C:\\Windows\\System32\\cmd.exe"), UNTRUSTED);
    sim::set_environment({"SystemRoot=\\"}); // one unit is a value too
    EXPECT_EQ(roots(), "\\\\?\\C:\\");
}
