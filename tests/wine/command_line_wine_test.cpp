// The quoting checked against splitters we did not write: Wine's CommandLineToArgvW and the argv
// that the C runtime of a real child program builds.
#include "common/resource.hpp"
#include "entry/split_command_line.hpp"
#include "platform.hpp"
#include "run/child_command_line.hpp"
#include "unit/command_line_generator.hpp"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

std::vector<std::string> utf8(const std::vector<WideString>& elements) {
    std::vector<std::string> texts;
    for (const auto& element : elements) {
        texts.push_back(to_utf8(element));
    }
    return texts;
}

// Starts sandbox_child.exe with `line`; the argv it received, as it reports it.
std::vector<std::string> child_argv(WideString line) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    const UniqueHandle reader(read_end);
    UniqueHandle writer(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &information)) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        return {};
    }
    const UniqueHandle process(information.hProcess);
    const UniqueHandle thread(information.hThread);
    writer.reset();
    std::vector<std::string> elements;
    std::string report;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(read_end, &c, 1, &got, nullptr) && got == 1) {
        report += c;
        if (c == '\n') {
            if (report.starts_with("argv=")) {
                elements.push_back(report.substr(5, report.size() - 6));
            }
            report.clear();
        }
    }
    return elements;
}

TEST(WineCommandLine, RoundTripsThroughCommandLineToArgvW) {
    ArgumentGenerator generator(7);
    for (int round = 0; round < 500; ++round) {
        const std::string program = round % 2 == 0 ? "C:\\Program Files\\t.exe" : "Z:\\t.exe";
        std::vector<std::string> elements{program};
        for (const auto& argument : generator.arguments()) {
            elements.push_back(argument);
        }
        const WideString line = to_wide(build_command_line(
            program, std::vector<std::string>(elements.begin() + 1, elements.end())));
        int count = 0;
        LPWSTR* const split = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(split, nullptr);
        const std::vector<WideString> received(split, split + count);
        LocalFree(split);
        ASSERT_EQ(utf8(received), elements) << to_utf8(line);
    }
}

TEST(WineCommandLine, SplittingAgreesWithARealChildArgv) {
    for (const char* tail : {"a\"b c\"d e", "  a\t\tb  ", "a\\\\\\\"b", "a\\\\\"b c\"", "a\\b\\",
                             "\"a\"\"b\" c", "\"\"", "\"a b", "\"\"\"\"", "a\\\\\\\\\"b c\" d",
                             "\"a\\\"\" \"\\\\\"", "x \"y\"\"\"z\"", "\\\\\\\"\"", "\"\"a\"\" b"}) {
        const WideString line = to_wide(std::string("\"")
                                            .append(module_directory())
                                            .append("\\sandbox_child.exe\" ")
                                            .append(tail));
        EXPECT_EQ(child_argv(line), utf8(split_command_line(line))) << tail;
    }
}

} // namespace
