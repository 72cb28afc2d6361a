#include "paths/path_forms.hpp"

#include <gtest/gtest.h>

namespace {

std::string text(const std::optional<WideString>& value) {
    return value ? to_utf8(*value) : std::string("(none)");
}

TEST(DisplayPath, StripsTheVerbatimPrefix) {
    const std::pair<const char*, const char*> cases[] = {
        {"\\\\?\\C:\\Work", "C:\\Work"},
        {"\\\\?\\UNC\\srv\\share\\d", "\\\\srv\\share\\d"},
        {"C:\\Work", "C:\\Work"},
        {"\\\\?\\", ""},
        {"\\\\?\\UNC\\", "\\\\"},
        {"\\\\?\\unc\\srv\\x", "unc\\srv\\x"}, // only the exact UNC form is a share
        {"\\\\?", "\\\\?"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(display_path(to_wide(path)), expected) << path;
    }
}

TEST(DisplayPath, UnpairedSurrogateBecomesReplacementCharacter) {
    WideString path = to_wide("\\\\?\\C:\\a");
    path.push_back(static_cast<WCHAR>(0xD800));
    EXPECT_EQ(display_path(path), "C:\\a\xEF\xBF\xBD");
}

// Elements written compactly: P(prefix) R(root) .(current) ..(parent) or the name.
std::string describe(const char* path) {
    const WideString wide = to_wide(path);
    std::string out;
    for (const auto& element : path_elements(wide)) {
        if (!out.empty()) {
            out += '|';
        }
        switch (element.kind) {
        case PathElement::Kind::Prefix:
            out += "P:" + to_utf8(element.text(wide));
            break;
        case PathElement::Kind::Root:
            out += "R";
            break;
        case PathElement::Kind::CurrentDir:
            out += ".";
            break;
        case PathElement::Kind::ParentDir:
            out += "..";
            break;
        case PathElement::Kind::Name:
            out += to_utf8(element.text(wide));
            break;
        }
    }
    return out;
}

TEST(PathElements, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Work\\Proj", "P:C:|R|Work|Proj"},
        {"C:/Work//Proj/", "P:C:|R|Work|Proj"},
        {"C:x", "P:C:|x"},
        {"\\x", "R|x"},
        {".\\x", ".|x"},
        {"a\\.\\b\\..\\c", "a|b|..|c"},
        {"C:.\\x", "P:C:|.|x"},
        {"\\\\?\\C:\\Work", "P:\\\\?\\C:|R|Work"},
        {"\\\\?\\C:\\a/b", "P:\\\\?\\C:|R|a/b"}, // only "\" separates after a verbatim prefix
        {"\\\\?\\UNC\\srv\\share\\d", "P:\\\\?\\UNC\\srv\\share|R|d"},
        {"\\\\?\\Volume{x}\\d", "P:\\\\?\\Volume{x}|R|d"},
        {"\\\\.\\pipe\\x", "P:\\\\.\\pipe|R|x"},
        {"\\\\srv\\share\\d", "P:\\\\srv\\share|R|d"},
        {"//srv/share", "P://srv/share|R"},
        {"\\\\srv", "R|srv"}, // no share: not a prefix
        {"", ""},
        {"..", ".."},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(describe(path), expected) << path;
    }
}

TEST(PathElements, Absoluteness) {
    for (const char* path :
         {"C:\\x", "C:/x", "\\\\server\\share\\x", "\\\\?\\C:\\x", "\\\\.\\pipe\\x"}) {
        EXPECT_TRUE(is_absolute_path(to_wide(path))) << path;
    }
    for (const char* path : {"x", "sub\\x", ".\\x", "..\\x", "\\x", "C:x", ""}) {
        EXPECT_FALSE(is_absolute_path(to_wide(path))) << path;
    }
}

TEST(RemainderUnder, Table) {
    struct Case {
        const char* path;
        const char* base;
        const char* expected;
    };
    const Case cases[] = {
        {"\\\\?\\C:\\Work\\Proj\\bin\\tool.exe", "\\\\?\\C:\\Work\\Proj", "bin\\tool.exe"},
        {"\\\\?\\C:\\Work\\Proj\\bin\\tool.exe", "\\\\?\\c:\\Work\\Proj", "bin\\tool.exe"},
        {"\\\\?\\C:\\Work\\Proj\\bin\\tool.exe", "\\\\?\\C:\\work\\Proj", "(none)"},
        {"\\\\?\\C:\\Work\\Proj", "\\\\?\\C:\\Work\\Proj", ""},
        {"\\\\?\\C:\\Work\\Proj\\", "\\\\?\\C:\\Work\\Proj", ""},
        {"\\\\?\\C:\\Work\\Project2\\x", "\\\\?\\C:\\Work\\Proj", "(none)"},
        {"C:\\Program Files Extra\\x.exe", "C:\\Program Files", "(none)"},
        {"\\\\?\\C:\\Work", "\\\\?\\C:\\Work\\Proj", "(none)"},
        {"\\\\?\\C:\\Work\\Proj\\x", "C:\\Work\\Proj",
         "(none)"}, // verbatim and plain drives differ
        {"\\\\?\\D:\\Work\\Proj\\x", "\\\\?\\C:\\Work\\Proj", "(none)"},
        {"\\\\?\\UNC\\srv\\share\\d\\x", "\\\\?\\UNC\\srv\\share\\d", "x"},
        {"\\\\?\\UNC\\srv\\share\\d\\x", "\\\\?\\UNC\\SRV\\share\\d", "(none)"},
        {"\\\\?\\C:\\Windows\\System32\\cmd.exe", "\\\\?\\C:\\Windows", "System32\\cmd.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(remainder_under(to_wide(c.path), to_wide(c.base))), c.expected)
            << c.path << " under " << c.base;
    }
}

TEST(JoinPath, Table) {
    struct Case {
        const char* base;
        const char* appended;
        const char* expected;
    };
    const Case cases[] = {
        {"\\\\?\\C:\\Work\\Proj", "sub/tool.exe", "\\\\?\\C:\\Work\\Proj\\sub\\tool.exe"},
        {"\\\\?\\C:\\Work\\Proj", "..\\..\\..\\..\\x.exe", "\\\\?\\C:\\x.exe"},
        {"\\\\?\\C:\\Work\\Proj", "\\Windows\\System32\\cmd.exe",
         "\\\\?\\C:\\Windows\\System32\\cmd.exe"},
        {"\\\\?\\C:\\Work\\Proj", ".\\cmd.exe", "\\\\?\\C:\\Work\\Proj\\cmd.exe"},
        {"\\\\?\\C:\\Work\\Proj", "a\\.\\b\\..\\c", "\\\\?\\C:\\Work\\Proj\\a\\c"},
        {"\\\\?\\C:\\Work\\Proj", "D:tool.exe", "D:tool.exe"},
        {"\\\\?\\C:\\Work\\Proj", "C:\\Other\\x", "C:\\Other\\x"},
        {"\\\\?\\C:\\Work\\Proj", "", "\\\\?\\C:\\Work\\Proj"},
        {"\\\\?\\C:\\", "x", "\\\\?\\C:\\x"},
        {"\\\\?\\UNC\\srv\\share\\d", "..\\..\\x", "\\\\?\\UNC\\srv\\share\\x"},
        {"X:\\", "bin\\tool.exe", "X:\\bin\\tool.exe"},
        {"X:\\", "", "X:\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_utf8(join_path(to_wide(c.base), to_wide(c.appended))), c.expected)
            << c.base << " + " << c.appended;
    }
}

} // namespace
