// Windows path forms as text: elements, what lies under or within a base, joining.
#include "paths/path_elements.hpp"
#include "paths/path_forms.hpp"

#include <gtest/gtest.h>

namespace {

// Elements written compactly: a prefix with its kind (VU VD V Dev U D), R a root (R0 without a
// separator of its own), "." and "..", names as they are; "abs" first for an absolute path.
std::string describe(const char* path) {
    static const char* const PREFIXES[] = {"VU:", "VD:", "V:", "Dev:", "U:", "D:"};
    const WideString wide = to_wide(path);
    std::string out = is_absolute_path(wide) ? "abs" : "";
    for (const auto& element : path_elements(wide)) {
        std::string text = to_utf8(element.text(wide));
        if (element.kind == PathElement::Kind::Prefix) {
            text.insert(0, PREFIXES[static_cast<int>(element.prefix)]);
        } else if (element.kind == PathElement::Kind::Root) {
            text = element.length == 0 ? "R0" : "R";
        }
        out += (out.empty() ? "" : "|") + text;
    }
    return out;
}

TEST(PathElements, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:/Work//Proj/", "abs|D:C:|R|Work|Proj"},
        {"C:x", "D:C:|x"},
        {"\\.\\x", "R|x"},
        {"C:.\\x", "D:C:|.|x"},
        {"@:x", "@:x"},
        {"\\\\?\\C:", "abs|VD:\\\\?\\C:|R0"},
        {"\\\\?\\C:x", "abs|V:\\\\?\\C:x|R0"},
        {"\\\\?\\C:\\a/b", "abs|VD:\\\\?\\C:|R|a/b"}, // only "\" separates after a verbatim prefix
        {"\\\\?\\UNC\\srv", "abs|VU:\\\\?\\UNC\\srv|R0"},
        {"\\\\?\\Volume{x}/y\\d", "abs|V:\\\\?\\Volume{x}/y|R|d"},
        {"\\\\.\\pipe/x", "abs|Dev:\\\\.\\pipe|R|x"},
        {"\\\\.\\", "abs|Dev:\\\\.\\|R0"},
        {"\\\\srv\\share\\d", "abs|U:\\\\srv\\share|R|d"},
        {"//srv/share", "abs|U://srv/share|R0"},
        {"\\\\a\\b\\x.", "abs|U:\\\\a\\b|R|x."}, // one-letter server, a name as it is
        {"\\\\srv", "R|srv"},                    // no share: not a prefix
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(describe(path), expected) << path;
    }
    const WideString root = to_wide("C:\\"); // nothing past the end of the text is read
    EXPECT_EQ(path_elements(WideStringView(root).substr(0, 2)).size(), 1U);
}

TEST(RemainderUnder, Table) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"\\\\?\\C:\\Work\\Proj\\bin\\tool.exe", "\\\\?\\c:\\Work\\Proj", "bin\\tool.exe"},
        {"\\\\?\\C:\\Work\\Proj", "\\\\?\\C:\\Work\\Proj", ""},
        {"C:\\Program Files Extra\\x.exe", "C:\\Program Files", "(none)"},
        {"\\\\?\\C:\\Work\\Proj\\x", "C:\\Work\\Proj", "(none)"}, // verbatim and plain differ
        {"\\\\?\\D:\\Work\\Proj\\x", "\\\\?\\C:\\Work\\Proj", "(none)"},
        {"\\\\?\\C:\\Work\\Proj\\x", "\\\\?\\C:\\work\\Proj", "(none)"},
        {"\\\\?\\UNC\\srv\\share\\d\\x", "\\\\?\\UNC\\SRV\\share\\d", "(none)"},
        {"\\\\?\\A:\\x", "\\\\?\\a:", "x"},
        {"\\\\?\\z:\\x", "\\\\?\\Z:", "x"},
        {"C:\\x", "C:x", "(none)"},
        {"C:\\a\\b/", "C:\\a", "b"},
        {"\\\\?\\C:\\a\\b/", "\\\\?\\C:\\a", "b/"},
    };
    for (const auto& [path, base, expected] : cases) {
        const auto remainder = remainder_under(to_wide(path), to_wide(base));
        EXPECT_EQ(remainder ? to_utf8(*remainder) : "(none)", expected)
            << path << " under " << base;
    }
}

// Whole names, compared as file systems compare them: without regard to case.
TEST(LiesWithin, Table) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"\\\\?\\C:\\Users\\me", "\\\\?\\c:\\USERS\\Me", true},
        {"\\\\?\\C:\\J\xc3\xbcrgen\\src", "\\\\?\\C:\\J\xc3\x9cRGEN", true},
        {"\\\\?\\C:\\Users\\me2", "\\\\?\\C:\\Users\\me", false},
        {"\\\\?\\C:\\Users", "\\\\?\\C:\\Users\\me", false},
        {"\\\\?\\C:\\Windows", "\\\\?\\C:\\", true},
        {"\\\\?\\D:\\Windows", "\\\\?\\C:\\Windows", false},
    };
    for (const auto& [path, base, within] : cases) {
        EXPECT_EQ(lies_within(to_wide(path), to_wide(base)), within) << path << " in " << base;
    }
}

TEST(JoinPath, Table) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"\\\\?\\C:\\Work\\Proj", "sub/tool.exe", "\\\\?\\C:\\Work\\Proj\\sub\\tool.exe"},
        {"\\\\?\\C:\\Work\\Proj", "\\Windows\\cmd.exe", "\\\\?\\C:\\Windows\\cmd.exe"},
        {"\\\\?\\C:\\Work\\Proj", ".\\a\\.\\b\\..\\c", "\\\\?\\C:\\Work\\Proj\\a\\c"},
        {"\\\\?\\C:\\Work\\Proj", "D:tool.exe", "D:tool.exe"},
        {"\\\\?\\C:\\Work\\..\\Proj", "x", "\\\\?\\C:\\Proj\\x"},
        {"\\\\?\\C:\\..\\Proj", "x", "\\\\?\\C:\\Proj\\x"},
        {"\\\\?\\UNC\\srv\\share\\d", "..\\..\\x", "\\\\?\\UNC\\srv\\share\\x"},
    };
    for (const auto& [base, appended, expected] : cases) {
        EXPECT_EQ(to_utf8(join_path(to_wide(base), to_wide(appended))), expected)
            << base << " + " << appended;
    }
}

} // namespace
