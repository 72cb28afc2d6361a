// canonical_path against the real Win32 of Wine: directories and files as stored on disk, the
// current directory, links and the errors of what is missing. (Paths of 260 units and more are the
// simulated Windows' to show: Wine's GetFinalPathNameByHandleW fails on them with 234.)
#include "launcher.hpp"
#include "paths/path_forms.hpp"

#include <gtest/gtest.h>

namespace {

using WinePathForms = SandboxTest;

TEST_F(WinePathForms, CanonicalPathsOfRealFiles) {
    const std::string proj = make_directory("Work\\Proj");
    make_file("Work\\Proj\\Tool.exe", "x");
    const std::string other_case = to_utf8(CharUpperW(to_wide(proj + "/../PROJ/TOOL.EXE").data()));
    ASSERT_NE(SetCurrentDirectoryW(to_wide(proj).c_str()), FALSE);
    const std::pair<std::string, std::string> cases[] = {
        {proj, "\\\\?\\" + proj},
        {other_case, "\\\\?\\" + proj + "\\Tool.exe"},
        {".", "\\\\?\\" + proj},
        // The test run links C:\norix-fixtures\link to ...\Target (make_fixtures.sh); Wine shows
        // a Linux symbolic link to Windows programs as a link.
        {"C:\\norix-fixtures\\link\\inner", "\\\\?\\C:\\norix-fixtures\\Target\\inner"},
        {proj + "\\missing", "error 2"},
        {proj + "\\missing\\x", "error 3"},
    };
    for (const auto& [path, expected] : cases) {
        const auto canonical = canonical_path(to_wide(path));
        EXPECT_EQ(canonical ? to_utf8(*canonical) : "error " + std::to_string(canonical.error()),
                  expected)
            << path;
    }
    SetCurrentDirectoryW(to_wide(root_ + "\\..").c_str());
}

} // namespace
