// The quoting checked against a splitter we did not write: Wine's CommandLineToArgvW. (The argv
// that a real child's C runtime builds is checked by the full runs.)
#include "common/text.hpp"
#include "run/child_command_line.hpp"
#include "unit/command_line_generator.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

TEST(WineCommandLine, RoundTripsThroughCommandLineToArgvW) {
    ArgumentGenerator generator(7);
    for (int round = 0; round < 500; ++round) {
        std::vector<std::string> elements{round % 2 == 0 ? "C:\\Program Files\\t.exe"
                                                         : "Z:\\t.exe"};
        const auto arguments = generator.arguments();
        elements.insert(elements.end(), arguments.begin(), arguments.end());
        const WideString line = to_wide(build_command_line(elements[0], arguments));
        int count = 0;
        LPWSTR* const split = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(split, nullptr);
        std::vector<std::string> received;
        for (int i = 0; i < count; ++i) {
            received.push_back(to_utf8(reinterpret_cast<const WCHAR*>(split[i])));
        }
        LocalFree(split);
        ASSERT_EQ(received, elements) << to_utf8(line);
    }
}
