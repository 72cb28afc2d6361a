// Host paths in a text rewritten onto a mount, and the arguments of the child.
#include "paths/argument_translation.hpp"
#include "paths/host_path_rewrite.hpp"

#include <gtest/gtest.h>

namespace {

SandboxRequest request_for(const char* project, const char* scratch) {
    SandboxRequest request;
    request.project = to_wide(project);
    request.scratch = to_wide(scratch);
    return request;
}

TEST(RewriteHostPath, StopsWhereTheHostNameEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Work\\Proj", "X:"},
        {"C:\\Work\\Proj\\bin;C:\\Windows", "X:\\bin;C:\\Windows"},
        {"\"C:\\Work\\Proj\"", "\"X:\""},
        {"--include=C:\\Work\\Proj/x=1", "--include=X:/x=1"},
        // A longer sibling name is another file.
        {"C:\\Work\\Project2", "C:\\Work\\Project2"},
        {"C:\\Work\\Proja;C:\\Work\\Projz;C:\\Work\\ProjA;C:\\Work\\ProjZ;C:\\Work\\Proj0;C:"
         "\\Work\\Proj9",
         "C:\\Work\\Proja;C:\\Work\\Projz;C:\\Work\\ProjA;C:\\Work\\ProjZ;C:\\Work\\Proj0;C:"
         "\\Work\\Proj9"},
        {"C:\\Work\\Proj\x80", "C:\\Work\\Proj\x80"},
        {"C:\\Work\\Proj.txt", "C:\\Work\\Proj.txt"},
        {"C:\\Work\\Proj_old\\a", "C:\\Work\\Proj_old\\a"},
        {"C:\\Work\\Proj-2", "C:\\Work\\Proj-2"},
        {"C:\\Work\\Proj\xC3\xA9", "C:\\Work\\Proj\xC3\xA9"},
        {"C:\\Work\\Proj@;C:\\Work\\Proj[;C:\\Work\\Proj`;C:\\Work\\Proj{;C:\\Work\\Proj:;C:"
         "\\Work\\Proj\x7F",
         "X:@;X:[;X:`;X:{;X::;X:\x7F"},
        // A skipped occurrence does not stop a later one, even one that starts inside it.
        {"C:\\Work\\Proj2;C:\\Work\\Proj", "C:\\Work\\Proj2;X:"},
        // Exact and case-sensitive.
        {"c:\\work\\proj\\bin", "c:\\work\\proj\\bin"},
        {"C:/Work/Proj", "C:/Work/Proj"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(rewrite_host_path(text, "C:\\Work\\Proj", "X:"), expected) << text;
    }
    // A drive root has ended already: what follows it is always rewritten.
    EXPECT_EQ(rewrite_host_path("C:\\x;C:\\", "C:\\", "X:"), "X:x;X:");
    EXPECT_EQ(rewrite_host_path("C:/x", "C:/", "X:"), "X:x");
    EXPECT_EQ(rewrite_host_path("C:\\a\\b", "C:\\a", "C:\\a\\x"), "C:\\a\\x\\b"); // never again
    EXPECT_EQ(rewrite_host_path("C:\\a", "", "X:"), "C:\\a");
    EXPECT_EQ(rewrite_host_path(std::string_view("C:\\ax", 4), "C:\\a", "X:"),
              "X:"); // not past its end
}

TEST(TranslateArguments, ProjectFirstThenScratchKeepingCountAndOrder) {
    SandboxRequest request = request_for("\\\\?\\C:\\work\\proj", "\\\\?\\C:\\work\\scr");
    request.arguments = {"", "C:\\work\\proj\\a;C:\\work\\scr\\b", "-v",
                         "\\\\?\\C:\\work\\proj\\x"};
    EXPECT_EQ(translate_arguments(request, "Z:\\", "Y:\\"),
              (std::vector<std::string>{"", "Z:\\a;Y:\\b", "-v", "\\\\?\\Z:\\x"}));
    const SandboxRequest nested = request_for("\\\\?\\C:\\w", "\\\\?\\C:\\w\\s");
    EXPECT_EQ(translate_argument("C:\\w\\s\\f", nested, "Z:\\", "Y:\\"), "Z:\\s\\f");
    const SandboxRequest root = request_for("\\\\?\\C:\\", "\\\\?\\UNC\\srv\\s\\scr");
    EXPECT_EQ(translate_argument("C:\\x \\\\srv\\s\\scr\\y", root, "Z:\\", "Y:\\"), "Z:x Y:\\y");
}

} // namespace
