// Path forms and mount checks against the real Win32 of Wine. Wine's message texts differ from
// Windows', so the texts are checked by their form and code.
#include "paths/path_forms.hpp"
#include "temp_directory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

std::string upper(std::string text) {
    for (auto& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return text;
}

TEST(WinePathForms, CanonicalPathOfRealDirectories) {
    const TempDirectory temp;
    const std::string proj = temp.make_directory("Work\\Proj");
    temp.make_file("Work\\Proj\\Tool.exe", "x");

    const auto canonical = canonical_path(to_wide(proj));
    ASSERT_TRUE(canonical) << canonical.error();
    EXPECT_THAT(to_utf8(*canonical), StartsWith("\\\\?\\"));
    EXPECT_THAT(to_utf8(*canonical), EndsWith("\\Work\\Proj"));

    // Named in other case and with "/" and "..": the case stored on disk comes back.
    const auto other_case = canonical_path(to_wide(upper(proj) + "/../PROJ/TOOL.EXE"));
    ASSERT_TRUE(other_case) << other_case.error();
    EXPECT_EQ(to_utf8(*other_case), to_utf8(*canonical) + "\\Tool.exe");

    // "." is the current directory.
    ASSERT_NE(SetCurrentDirectoryW(to_wide(proj).c_str()), FALSE);
    const auto dot = canonical_path(to_wide("."));
    ASSERT_TRUE(dot) << dot.error();
    EXPECT_EQ(*dot, *canonical);

    EXPECT_EQ(canonical_path(to_wide(proj + "\\missing")).error(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(canonical_path(to_wide(proj + "\\missing\\x")).error(), ERROR_PATH_NOT_FOUND);
    SetCurrentDirectoryW(to_wide(temp.path() + "\\..").c_str());
}

TEST(WinePathForms, PathsOf248UnitsAndMoreStillOpen) {
    // Wine's GetFinalPathNameByHandleW fails with 234 once the final path reaches 260 units
    // (Windows has no such limit), so the path here stays between 248 and 259 units: long enough
    // to be opened through GetFullPathNameW and the "\\?\" form.
    const TempDirectory temp;
    std::string relative = "long";
    while (temp.path().size() + 1 + relative.size() < 250) {
        relative += "\\d";
    }
    const std::string deep = temp.make_directory(relative);
    ASSERT_GE(deep.size(), 248U);
    ASSERT_LT(deep.size(), 260U);
    const auto canonical = canonical_path(to_wide(deep));
    ASSERT_TRUE(canonical) << canonical.error();
    EXPECT_THAT(to_utf8(*canonical), EndsWith(relative));
}

TEST(WinePathForms, LinksAreResolved) {
    // Wine resolves Linux symbolic links inside its drives as Windows links; the test run makes
    // C:\norix-fixtures\link pointing at C:\norix-fixtures\Target (make_fixtures.sh).
    const auto through_link = canonical_path(to_wide("C:\\norix-fixtures\\link\\inner"));
    const auto direct = canonical_path(to_wide("C:\\norix-fixtures\\TARGET\\inner"));
    ASSERT_TRUE(direct) << "fixture missing: " << direct.error();
    ASSERT_TRUE(through_link) << through_link.error();
    EXPECT_EQ(to_utf8(*through_link), "\\\\?\\C:\\norix-fixtures\\Target\\inner");
}

} // namespace
