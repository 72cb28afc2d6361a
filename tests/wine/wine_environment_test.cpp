// The rewrite of this test process's own environment on Wine's real Win32.
#include "paths/environment_rewrite.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace {

std::optional<std::string> variable(const char* name) {
    WideString value(32767, WCHAR{});
    SetLastError(0);
    const DWORD length = GetEnvironmentVariableW(to_wide(name).c_str(), value.data(),
                                                 static_cast<DWORD>(value.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
    }
    value.resize(length);
    return to_utf8(value);
}

} // namespace

TEST(WineEnvironment, RewritesTheProcessEnvironmentInPlace) {
    SandboxRequest request;
    request.project = to_wide("\\\\?\\C:\\norix-wine\\Proj");
    request.scratch = to_wide("\\\\?\\C:\\norix-wine\\Scratch");
    set_environment_variable("NORIX_WINE_PATH", "C:\\norix-wine\\Proj\\bin;C:\\windows");
    set_environment_variable("NORIX_WINE_ESCAPED", "C:\\\\norix-wine\\\\Scratch\\\\t");
    set_environment_variable("NORIX_WINE_SIBLING", "C:\\norix-wine\\Project2");
    set_environment_variable("norix_wine_lower", "C:\\norix-wine\\Proj");
    const auto path_before = variable("PATH");

    rewrite_environment(request, "X:\\", "Y:\\");

    EXPECT_EQ(variable("NORIX_WINE_PATH"), "X:\\bin;C:\\windows");
    EXPECT_EQ(variable("NORIX_WINE_ESCAPED"), "Y:\\\\t");
    EXPECT_EQ(variable("NORIX_WINE_SIBLING"), "C:\\norix-wine\\Project2");
    EXPECT_EQ(variable("NORIX_WINE_LOWER"), "X:");
    EXPECT_EQ(variable("PATH"), path_before);
    for (const char* name :
         {"NORIX_WINE_PATH", "NORIX_WINE_ESCAPED", "NORIX_WINE_SIBLING", "NORIX_WINE_LOWER"}) {
        SetEnvironmentVariableW(to_wide(name).c_str(), nullptr);
    }
}
