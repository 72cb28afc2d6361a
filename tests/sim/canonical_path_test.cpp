// Paths as the file system resolves them, and the Windows message of an error code.
#include "common/windows_error.hpp"
#include "paths/path_forms.hpp"
#include "sim/sim_fixture.hpp"

namespace {

using CanonicalPath = SimulatedWindows;

std::string canonical(const std::string& path) {
    const auto result = canonical_path(to_wide(path));
    return result ? to_utf8(*result) : "error " + std::to_string(result.error());
}

TEST_F(CanonicalPath, ShortAbsolutePathsOpenAsTypedOthersThroughTheVerbatimForm) {
    std::string below = "C:\\Work", deep;
    while (below.size() < 237) {
        below += "\\directory";
    }
    below += "\\dir_47890";             // 247 units
    const std::string at = below + "1"; // 248 units
    for (deep = at; deep.size() < 600;) {
        deep += "\\directory";
    }
    const std::string unc = "\\\\srv\\share" + at.substr(2);
    const std::string long_unc = "\\\\?\\UNC" + unc.substr(1);
    const std::string full = "GetFullPathNameW ";
    sim::add_share("srv", "share");
    for (const auto& directory : {below, deep, unc}) {
        sim::make_directory(directory);
    }
    sim::set_current_directory("C:\\Work");
    // What is typed, its canonical path, and the calls up to the open.
    // A row to a line or two reads as a table:
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"C:\\", "\\\\?\\C:\\", "CreateFileW C:\\"},
        {below, "\\\\?\\" + below, "CreateFileW " + below},
        {"\\\\srv\\share\\Work", "\\\\?\\UNC\\srv\\share\\Work",
         "CreateFileW \\\\srv\\share\\Work"},
        {".\\directory", "\\\\?\\C:\\Work\\directory",
         full + ".\\directory; CreateFileW \\\\?\\C:\\Work\\directory"},
        {at, "\\\\?\\" + at, full + at + "; CreateFileW \\\\?\\" + at},
        {unc, long_unc, full + unc + "; CreateFileW " + long_unc},
        {deep.substr(8), "\\\\?\\" + deep,
         full + deep.substr(8) + "; " + full + deep.substr(8) + "; CreateFileW \\\\?\\" + deep},
    };
    // clang-format on
    for (const auto& [typed, expected, calls] : cases) {
        sim::clear_journal();
        EXPECT_EQ(canonical(typed), expected) << typed;
        EXPECT_EQ(joined(journal_without({"CloseHandle", "GetFinalPathNameByHandleW"})), calls)
            << typed;
    }
}

TEST_F(CanonicalPath, WhatIsHeldOpenIsStillLookedAt) {
    sim::make_directory("C:\\pagefile"); // held open without sharing, even for its attributes
    sim::deny_access("C:\\pagefile", 32);
    EXPECT_EQ(file_attributes(to_wide("C:\\pagefile")), 16U);
    // Held open by another without sharing: an open that asks for none of its data succeeds.
    sim::make_directory("C:\\held");
    const HANDLE held = CreateFileW(to_wide("C:\\held").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(canonical("C:\\held"), "\\\\?\\C:\\held");
    CloseHandle(held);
    EXPECT_EQ(sim::open_handles(), Strings{});
}

// A step that fails without an error of its own still fails with one; a run's failed calls and
// what they leave are the run's tests.
TEST_F(CanonicalPath, EveryFailureHasACode) {
    EXPECT_EQ(canonical(""), "error 123");
    EXPECT_EQ(os_error_text(4242), "unknown error 4242 (os error 4242)");
}

} // namespace
