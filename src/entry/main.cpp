// Process entry of norix-native-sandbox.exe.
#include "entry/command_line.hpp"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(to_utf8(argv[i]));
    }
    const auto request = parse_command_line(arguments);
    if (!request) {
        std::fprintf(stderr, "native sandbox failed: %s\n", request.error().message.c_str());
        return 126;
    }
    return 0;
}
