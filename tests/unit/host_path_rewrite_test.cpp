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

} // namespace

TEST(RewriteHostPath, StopsWhereTheHostNameEnds) {
    struct Case {
        const char* text;
        const char* host;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Work\\Proj", "C:\\Work\\Proj", "X:"},
        {"C:\\Work\\Proj\\bin;C:\\Windows", "C:\\Work\\Proj", "X:\\bin;C:\\Windows"},
        {"\"C:\\Work\\Proj\"", "C:\\Work\\Proj", "\"X:\""},
        {"cd C:\\Work\\Proj && make", "C:\\Work\\Proj", "cd X: && make"},
        {"--include=C:\\Work\\Proj\\inc", "C:\\Work\\Proj", "--include=X:\\inc"},
        {"C:\\Work\\Proj/x", "C:\\Work\\Proj", "X:/x"},
        {"C:\\Work\\Proj=1", "C:\\Work\\Proj", "X:=1"},
        // A longer sibling name is another file.
        {"C:\\Work\\Project2", "C:\\Work\\Proj", "C:\\Work\\Project2"},
        {"C:\\Work\\Proj.txt", "C:\\Work\\Proj", "C:\\Work\\Proj.txt"},
        {"C:\\Work\\Proj_old\\a", "C:\\Work\\Proj", "C:\\Work\\Proj_old\\a"},
        {"C:\\Work\\Proj-2", "C:\\Work\\Proj", "C:\\Work\\Proj-2"},
        {"C:\\Work\\Proj\xC3\xA9", "C:\\Work\\Proj", "C:\\Work\\Proj\xC3\xA9"},
        // A skipped occurrence does not stop a later one.
        {"C:\\Work\\Proj2;C:\\Work\\Proj", "C:\\Work\\Proj", "C:\\Work\\Proj2;X:"},
        // Exact and case-sensitive.
        {"c:\\work\\proj\\bin", "C:\\Work\\Proj", "c:\\work\\proj\\bin"},
        {"C:/Work/Proj", "C:\\Work\\Proj", "C:/Work/Proj"},
        // A drive root has ended already: what follows it is always rewritten.
        {"C:\\x", "C:\\", "X:x"},
        {"C:\\", "C:\\", "X:"},
        // Escaped forms.
        {"C:\\\\Work\\\\Proj\\\\src", "C:\\\\Work\\\\Proj", "X:\\\\src"},
        {"C:\\\\Work\\\\Projects", "C:\\\\Work\\\\Proj", "C:\\\\Work\\\\Projects"},
        {"", "C:\\Work\\Proj", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rewrite_host_path(c.text, c.host, "X:"), c.expected) << c.text;
    }
}

TEST(RewriteHostPath, ReplacementIsNeverSearchedAgain) {
    EXPECT_EQ(rewrite_host_path("C:\\a\\b", "C:\\a", "C:\\a\\x"), "C:\\a\\x\\b");
}

TEST(TranslateArgument, Table) {
    const SandboxRequest request = request_for("\\\\?\\C:\\work\\proj", "\\\\?\\C:\\work\\scr");
    struct Case {
        const char* argument;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\work\\proj\\src\\main.c", "Z:\\src\\main.c"},
        {"C:\\work\\scr\\out.txt", "Y:\\out.txt"},
        {"C:\\work\\proj", "Z:"},
        {"--include=C:\\work\\proj\\inc", "--include=Z:\\inc"},
        {"C:\\work\\proj\\a;C:\\work\\scr\\b", "Z:\\a;Y:\\b"},
        {"C:\\work\\proj2\\x", "C:\\work\\proj2\\x"},
        {"C:\\work\\scratch\\x", "C:\\work\\scratch\\x"},
        {"c:\\work\\proj\\x", "c:\\work\\proj\\x"},
        {"C:/work/proj/x", "C:/work/proj/x"},
        {"\\\\?\\C:\\work\\proj\\x", "\\\\?\\Z:\\x"},
        {"src\\main.c", "src\\main.c"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(translate_argument(c.argument, request, "Z:\\", "Y:\\"), c.expected)
            << c.argument;
    }
}

TEST(TranslateArgument, ProjectPassComesFirst) {
    const SandboxRequest nested = request_for("\\\\?\\C:\\w", "\\\\?\\C:\\w\\s");
    EXPECT_EQ(translate_argument("C:\\w\\s\\f", nested, "Z:\\", "Y:\\"), "Z:\\s\\f");
    const SandboxRequest root = request_for("\\\\?\\C:\\", "\\\\?\\C:\\work\\scr");
    EXPECT_EQ(translate_argument("C:\\x", root, "Z:\\", "Y:\\"), "Z:x");
}

TEST(TranslateArguments, KeepsCountAndOrder) {
    SandboxRequest request = request_for("\\\\?\\C:\\work\\proj", "\\\\?\\C:\\work\\scr");
    request.arguments = {"", "C:\\work\\scr", "-v", "C:\\work\\proj\\a"};
    EXPECT_EQ(translate_arguments(request, "Z:\\", "Y:\\"),
              (std::vector<std::string>{"", "Y:", "-v", "Z:\\a"}));
    request.arguments.clear();
    EXPECT_TRUE(translate_arguments(request, "Z:\\", "Y:\\").empty());
}
