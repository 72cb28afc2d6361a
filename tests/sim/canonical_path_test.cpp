// Paths as the file system resolves them, and the Windows message of an error code.
#include "paths/path_forms.hpp"
#include "sim/sim_fixture.hpp"

namespace {

using CanonicalPath = SimulatedWindows;

std::string canonical(const std::string& path) {
    const auto result = canonical_path(to_wide(path));
    return result ? to_utf8(*result) : "error " + std::to_string(result.error());
}

TEST_F(CanonicalPath, ResolvesAsTheFileSystemReports) {
    sim::make_file("C:\\Work\\Proj\\bin\\tool.exe");
    sim::add_volume('D');
    sim::make_directory("D:\\Elsewhere\\Real");
    sim::make_junction("C:\\Work\\Proj\\outside", "D:\\Elsewhere\\Real");
    sim::make_symlink("C:\\Work\\link", "Proj\\bin");
    sim::make_symlink("C:\\Work\\loop", "C:\\Work\\loop");
    sim::add_share("srv", "share");
    sim::make_directory("\\\\srv\\share\\d");
    sim::set_current_directory("C:\\Work");
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\work\\PROJ", "\\\\?\\C:\\Work\\Proj"},
        {"c:/Work/Proj/bin/", "\\\\?\\C:\\Work\\Proj\\bin"},
        {".", "\\\\?\\C:\\Work"},
        {"Proj\\bin\\..\\bin\\TOOL.EXE", "\\\\?\\C:\\Work\\Proj\\bin\\tool.exe"},
        {"C:Proj", "\\\\?\\C:\\Work\\Proj"},
        {"C:\\Work\\Proj\\outside", "\\\\?\\D:\\Elsewhere\\Real"},
        {"C:\\Work\\Proj\\outside\\..", "\\\\?\\C:\\Work\\Proj"}, // ".." settles on the text first
        {"\\\\?\\C:\\Work\\Proj\\outside\\..", "error 123"},      // verbatim: ".." is not a name
        {"C:\\Work\\link\\tool.exe", "\\\\?\\C:\\Work\\Proj\\bin\\tool.exe"},
        {"\\\\srv\\share\\d", "\\\\?\\UNC\\srv\\share\\d"},
        {"C:\\Work\\missing", "error 2"},
        {"C:\\Work\\loop", "error 1921"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(canonical(path), expected) << path;
    }
    EXPECT_EQ(sim::open_handles(), Strings{});
}

TEST_F(CanonicalPath, ShortAbsolutePathsOpenAsTypedOthersThroughTheVerbatimForm) {
    std::string base = "C:\\Work";
    while (base.size() < 237) {
        base += "\\directory";
    }
    const std::string below = base + "\\dir_47890"; // 247 units
    const std::string at = base + "\\dir_478901";   // 248 units
    std::string deep = at;
    while (deep.size() < 600) {
        deep += "\\directory";
    }
    sim::make_directory(below);
    sim::make_directory(deep);
    sim::set_current_directory("C:\\Work");
    sim::clear_journal();
    EXPECT_EQ(canonical("."), "\\\\?\\C:\\Work");
    EXPECT_EQ(canonical(below), "\\\\?\\" + below);
    EXPECT_EQ(canonical(at), "\\\\?\\" + at);
    EXPECT_EQ(canonical(deep.substr(8)), "\\\\?\\" + deep);
    // The final path grows its buffer to the size reported.
    EXPECT_EQ(joined(journal_without({"CloseHandle"})),
              joined({"GetFullPathNameW .", "CreateFileW \\\\?\\C:\\Work",
                      "GetFinalPathNameByHandleW 260 0x0", "CreateFileW " + below,
                      "GetFinalPathNameByHandleW 260 0x0", "GetFullPathNameW " + at,
                      "CreateFileW \\\\?\\" + at, "GetFinalPathNameByHandleW 260 0x0",
                      "GetFullPathNameW " + deep.substr(8), "GetFullPathNameW " + deep.substr(8),
                      "CreateFileW \\\\?\\" + deep, "GetFinalPathNameByHandleW 260 0x0",
                      "GetFinalPathNameByHandleW " + std::to_string(deep.size() + 5) + " 0x0"}));
}

TEST_F(CanonicalPath, EveryStepReportsItsError) {
    sim::make_directory("C:\\Work");
    sim::inject(fault_on("GetFinalPathNameByHandleW", 0, 5));
    EXPECT_EQ(canonical("C:\\Work"), "error 5");
    sim::inject(fault_on("GetFullPathNameW", 0, 161));
    EXPECT_EQ(canonical("Work"), "error 161");
    EXPECT_EQ(canonical(""), "error 123"); // fails without an error of its own
    EXPECT_EQ(sim::open_handles(), Strings{});
}

TEST(OsErrorText, TheWindowsMessage) {
    EXPECT_EQ(os_error_text(5), "Access is denied. (os error 5)");
    EXPECT_EQ(os_error_text(4242), "unknown error 4242 (os error 4242)");
}

} // namespace
