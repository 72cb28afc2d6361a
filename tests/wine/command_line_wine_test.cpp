// The quoting checked against splitters we did not write: Wine's CommandLineToArgvW and the argv
// that the C runtime of a real child program builds.
#include "common/resource.hpp"
#include "common/text.hpp"
#include "entry/split_command_line.hpp"
#include "platform.hpp"
#include "run/child_command_line.hpp"
#include "unit/command_line_generator.hpp"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

std::vector<std::string> expected_elements(const std::string& program,
                                           const std::vector<std::string>& arguments) {
    std::vector<std::string> elements{program};
    elements.insert(elements.end(), arguments.begin(), arguments.end());
    return elements;
}

std::string helper_path() {
    return module_directory() + "\\print_argv.exe";
}

// Starts the helper with `command_line` and reads back the argv it received.
std::vector<std::string> child_argv(const std::string& command_line) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    UniqueHandle reader(read_end);
    UniqueHandle writer(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    PROCESS_INFORMATION information{};
    WideString line = to_wide(command_line);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &information)) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        return {};
    }
    UniqueHandle process(information.hProcess);
    UniqueHandle thread(information.hThread);
    writer.reset();

    std::u16string received;
    char16_t chunk[4096];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        received.append(chunk, got / sizeof(char16_t));
    }
    WaitForSingleObject(process.get(), INFINITE);
    std::vector<std::string> elements;
    for (std::size_t start = 0; start < received.size();) {
        const std::size_t end = received.find(u'\0', start);
        elements.push_back(to_utf8(
            WideStringView(reinterpret_cast<const WCHAR*>(received.data()) + start, end - start)));
        start = end + 1;
    }
    return elements;
}

} // namespace

TEST(WineCommandLine, RoundTripsThroughCommandLineToArgvW) {
    ArgumentGenerator generator(7);
    for (int round = 0; round < 500; ++round) {
        const std::string program = round % 2 == 0 ? "C:\\Program Files\\t.exe" : "Z:\\t.exe";
        const auto arguments = generator.arguments();
        const WideString line = to_wide(build_command_line(program, arguments));
        int count = 0;
        LPWSTR* split = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(split, nullptr);
        std::vector<std::string> elements;
        for (int i = 0; i < count; ++i) {
            elements.push_back(to_utf8(reinterpret_cast<const WCHAR*>(split[i])));
        }
        LocalFree(split);
        ASSERT_EQ(elements, expected_elements(program, arguments)) << to_utf8(line);
    }
}

TEST(WineCommandLine, RoundTripsThroughARealChildArgv) {
    const std::string program = helper_path();
    ArgumentGenerator generator(11);
    for (int round = 0; round < 25; ++round) {
        const auto arguments = generator.arguments();
        const std::string line = build_command_line(program, arguments);
        ASSERT_EQ(child_argv(line), expected_elements(program, arguments)) << line;
    }
}

TEST(WineCommandLine, SplittingAgreesWithARealChildArgv) {
    const char* const tails[] = {
        "a\"b c\"d e",        "  a\t\tb  ",     "a\\\\\\\"b", "a\\\\\"b c\"", "a\\b\\",
        "\"a\"\"b\" c",       "\"\"",           "\"a b",      "\"\"\"\"",     "a\\\\\\\\\"b c\" d",
        "\"a\\\"\" \"\\\\\"", "x \"y\"\"\"z\"", "\\\\\\\"\"", "\"\"a\"\" b",
    };
    for (const char* tail : tails) {
        std::string line = "\"";
        line.append(helper_path()).append("\" ").append(tail);
        std::vector<std::string> expected;
        for (const auto& element : split_command_line(to_wide(line))) {
            expected.push_back(to_utf8(element));
        }
        const auto received = child_argv(line);
        ASSERT_FALSE(received.empty()) << line;
        EXPECT_EQ(std::vector<std::string>(received.begin() + 1, received.end()),
                  std::vector<std::string>(expected.begin() + 1, expected.end()))
            << line;
    }
}
