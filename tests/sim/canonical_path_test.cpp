#include "paths/path_forms.hpp"
#include "sim_fixture.hpp"

namespace {

using CanonicalPath = SimulatedWindows;

std::string canonical(const std::string& path) {
    const auto result = canonical_path(to_wide(path));
    return result ? to_utf8(*result) : "error " + std::to_string(result.error());
}

TEST_F(CanonicalPath, ResolvesAsTheFileSystemReports) {
    sim::make_directory("C:\\Work\\Proj\\bin");
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
        {"\\Work\\Proj", "\\\\?\\C:\\Work\\Proj"},
        {"C:Proj", "\\\\?\\C:\\Work\\Proj"},
        {"C:\\Work\\Proj\\outside", "\\\\?\\D:\\Elsewhere\\Real"},
        {"C:\\Work\\Proj\\outside\\..", "\\\\?\\C:\\Work\\Proj"}, // ".." settles on the text first
        {"\\\\?\\C:\\Work\\Proj\\outside\\..", "error 123"},      // verbatim: ".." is not a name
        {"C:\\Work\\link\\tool.exe", "\\\\?\\C:\\Work\\Proj\\bin\\tool.exe"},
        {"\\\\srv\\share\\d", "\\\\?\\UNC\\srv\\share\\d"},
        {"C:\\Work\\missing", "error 2"},
        {"C:\\Work\\missing\\x", "error 3"},
        {"C:\\Work\\Proj\\bin\\tool.exe\\x", "error 3"},
        {"C:\\Work\\loop", "error 1921"},
        {"Q:\\x", "error 3"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(canonical(path), expected) << path;
    }
}

TEST_F(CanonicalPath, ShortAbsolutePathsOpenAsTypedOthersThroughTheVerbatimForm) {
    sim::make_directory("C:\\Work");
    sim::set_current_directory("C:\\Work");
    sim::clear_journal();
    ASSERT_EQ(canonical("C:\\Work"), "\\\\?\\C:\\Work");
    ASSERT_EQ(canonical("."), "\\\\?\\C:\\Work");
    EXPECT_EQ(sim::journal_of("CreateFileW"),
              (std::vector<std::string>{"CreateFileW C:\\Work", "CreateFileW \\\\?\\C:\\Work"}));
    EXPECT_EQ(sim::journal_of("GetFullPathNameW"),
              (std::vector<std::string>{"GetFullPathNameW ."}));
    EXPECT_TRUE(sim::open_handles().empty());
}

TEST_F(CanonicalPath, LongPathsStillOpen) {
    std::string path = "C:\\Work";
    while (path.size() < 300) {
        path += "\\directory_with_a_long_name";
    }
    sim::make_directory(path);
    // 248 units and more go through GetFullPathNameW and the "\\?\" form.
    EXPECT_EQ(canonical(path), "\\\\?\\" + path);
    sim::set_current_directory("C:\\Work");
    EXPECT_EQ(canonical(path.substr(8)), "\\\\?\\" + path);
}

TEST_F(CanonicalPath, GrowsTheBufferToTheReportedSize) {
    std::string path = "C:\\Work";
    while (path.size() < 600) {
        path += "\\deep";
    }
    sim::make_directory(path);
    sim::clear_journal();
    EXPECT_EQ(canonical("\\\\?\\" + path), "\\\\?\\" + path);
    const auto asked = sim::journal_of("GetFinalPathNameByHandleW");
    ASSERT_EQ(asked.size(), 2U);
    EXPECT_EQ(asked[0], "GetFinalPathNameByHandleW 260 0x0");
    EXPECT_EQ(asked[1], "GetFinalPathNameByHandleW " + std::to_string(path.size() + 5) + " 0x0");
}

TEST_F(CanonicalPath, EveryStepReportsItsErrorAndClosesTheHandle) {
    sim::make_directory("C:\\Work");
    sim::inject({.function = "GetFinalPathNameByHandleW", .result = 0, .error = 5});
    EXPECT_EQ(canonical("C:\\Work"), "error 5");
    sim::inject({.function = "GetFullPathNameW", .result = 0, .error = 161});
    EXPECT_EQ(canonical("Work"), "error 161");
    EXPECT_TRUE(sim::open_handles().empty());
}

TEST_F(CanonicalPath, OsErrorTextIsTheWindowsMessage) {
    EXPECT_EQ(os_error_text(2), "The system cannot find the file specified. (os error 2)");
    EXPECT_EQ(os_error_text(3), "The system cannot find the path specified. (os error 3)");
    EXPECT_EQ(os_error_text(5), "Access is denied. (os error 5)");
    EXPECT_EQ(os_error_text(4242), "unknown error 4242 (os error 4242)");
}

} // namespace
