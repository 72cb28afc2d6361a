// A project directory whose path is longer than MAX_PATH: the grant names it without "\\?\", so a
// run gets through only where Windows allows long paths to a long-path aware process.
#include "entry/process_entry.hpp"
#include "run/child_command_line.hpp"
#include "sim_fixture.hpp"

namespace {

TEST_F(SimulatedWindows, LongProjectPathNeedsTheSystemSwitchAndALongPathAwareLauncher) {
    std::string project = "C:\\Work";
    while (project.size() < 280) {
        project += "\\long_directory_name";
    }
    project += "\\project_root";
    ASSERT_EQ(project.size(), 300U);
    const std::string refused =
        "native sandbox failed: cannot read ACL for \\\\?\\" + project + ": Win32 3\n";
    const struct {
        bool system_allows;
        bool launcher_aware;
        int status;
    } rows[] = {{false, false, 126}, {true, false, 126}, {false, true, 126}, {true, true, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "LongPathsEnabled " << row.system_allows
                                          << ", long-path aware " << row.launcher_aware);
        sim::reset();
        sim::make_directory(project);
        sim::make_directory("C:\\Work\\Scratch");
        std::vector<std::string> argv;
        // Registering reads the program's path back, which takes long paths.
        sim::set_long_paths_enabled(true);
        sim::set_long_path_aware(true);
        sim::register_program(project + "\\tool.exe", [&argv](const sim::ChildView& view) {
            argv = view.argv;
            return 0;
        });
        sim::set_long_paths_enabled(row.system_allows);
        sim::set_long_path_aware(row.launcher_aware);
        const int status = run_process(to_wide(build_command_line(
            "norix-native-sandbox.exe",
            {"--project", project, "--scratch", "C:\\Work\\Scratch", "--profile", "agent",
             "--network", "deny", "--", ".\\tool.exe", project + "\\main.c"})));
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(sim::stderr_text(), row.status == 0 ? "" : refused);
        if (row.status == 0) {
            // Granted, mapped onto Z: and started from there.
            EXPECT_EQ(sim::dacl_entries("\\\\?\\" + project)->front(),
                      (sim::AccessEntry{sim::app_container_sid("agent"), 0x001301BF, 3}));
            EXPECT_EQ(argv, (std::vector<std::string>{"Z:\\tool.exe", "Z:\\main.c"}));
        }
    }
}

} // namespace
