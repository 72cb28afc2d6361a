// Host paths in a text rewritten onto a mount, and the arguments of the child.
#include "paths/argument_translation.hpp"
#include "paths/host_path_rewrite.hpp"

#include <gtest/gtest.h>

namespace {

// What a value of the environment shows of the rewrite (siblings, case, quotes) is in the
// environment's own test.
TEST(RewriteHostPath, StopsWhereTheHostNameEnds) {
    const std::pair<const char*, const char*> cases[] = {
        // A longer sibling name is another file.
        {"C:\\Work\\Proja;C:\\Work\\Projz;C:\\Work\\ProjA;C:\\Work\\ProjZ;C:\\Work\\Proj0;C:"
         "\\Work\\Proj9;C:\\Work\\Proj\x80",
         "C:\\Work\\Proja;C:\\Work\\Projz;C:\\Work\\ProjA;C:\\Work\\ProjZ;C:\\Work\\Proj0;C:"
         "\\Work\\Proj9;C:\\Work\\Proj\x80"},
        {"C:\\Work\\Proj@;C:\\Work\\Proj[;C:\\Work\\Proj`;C:\\Work\\Proj{;C:\\Work\\Proj:;C:"
         "\\Work\\Proj\x7F",
         "X:@;X:[;X:`;X:{;X::;X:\x7F"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(rewrite_host_path(text, "C:\\Work\\Proj", "X:"), expected) << text;
    }
    EXPECT_EQ(rewrite_host_path("aaa;", "aa", "X:"), "aX:;"); // a match inside a skipped one
    EXPECT_EQ(rewrite_host_path(std::string_view("C:\\ax", 4), "C:\\a", "X:"),
              "X:"); // not past its end
}

TEST(TranslateArguments, ProjectFirstThenScratchKeepingCountAndOrder) {
    const SandboxRequest nested{.project = to_wide("\\\\?\\C:\\w"),
                                .scratch = to_wide("\\\\?\\C:\\w\\s"),
                                .arguments = {"C:\\w\\s\\f", "", "-v"}};
    EXPECT_EQ(translate_arguments(nested, "Z:\\", "Y:\\"),
              (std::vector<std::string>{"Z:\\s\\f", "", "-v"}));
}

} // namespace
