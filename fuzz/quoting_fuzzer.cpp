// The child's command line against the C runtime's splitting: split(build(program, arguments))
// gives back the program and every argument. The input split at NUL bytes is the program and its
// arguments; any bytes, so invalid UTF-8 and every kind of white space take part.
#include "common/split_command_line.hpp"
#include "fuzz_input.hpp"
#include "run/child_command_line.hpp"

#include <algorithm>

namespace {

// The program element has rules of its own: the C runtime takes backslashes in it literally and
// drops every quote, so a program text cannot hold a quote at all, and a quoted program ending in
// backslashes would keep the doubled backslashes before its closing quote. A resolved program
// names a file: no quotes, no trailing separator.
std::string as_program(std::string text) {
    std::erase(text, '"');
    while (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts = split_at_nul(data, size);
    if (texts.empty()) {
        return 0;
    }
    // Whatever the bytes, the splitting itself must hold up.
    split_command_line(to_wide(std::string_view(reinterpret_cast<const char*>(data), size)));

    const std::string program = as_program(texts.front());
    const std::vector<std::string> arguments(texts.begin() + 1, texts.end());
    const std::string line = build_command_line(program, arguments);
    const std::vector<WideString> split = split_command_line(to_wide(line));

    std::vector<WideString> expected{to_wide(program)};
    for (const auto& argument : arguments) {
        expected.push_back(to_wide(argument));
    }
    if (split != expected) {
        fuzz_failure("split(build(...)) differs for the command line " + line);
    }
    return 0;
}
