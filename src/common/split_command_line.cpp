#include "common/split_command_line.hpp"

namespace {

constexpr WCHAR QUOTE = 0x22;
constexpr WCHAR BACKSLASH = 0x5C;

bool is_blank(WCHAR c) {
    return c == 0x20 || c == 0x09;
}

} // namespace

std::vector<WideString> split_command_line(WideStringView command_line) {
    std::vector<WideString> elements;
    std::size_t i = 0;
    const std::size_t end = command_line.size();

    WideString program;
    bool in_quotes = false;
    for (; i < end && (in_quotes || !is_blank(command_line[i])); ++i) {
        if (command_line[i] == QUOTE) {
            in_quotes = !in_quotes;
        } else {
            program.push_back(command_line[i]);
        }
    }
    elements.push_back(std::move(program));

    in_quotes = false;
    for (;;) {
        while (i < end && is_blank(command_line[i])) {
            ++i;
        }
        if (i == end) {
            break;
        }
        WideString argument;
        for (;;) {
            std::size_t backslashes = 0;
            while (i < end && command_line[i] == BACKSLASH) {
                ++backslashes;
                ++i;
            }
            bool literal = true;
            if (i < end && command_line[i] == QUOTE) {
                if (backslashes % 2 == 0) {
                    if (in_quotes && i + 1 < end && command_line[i + 1] == QUOTE) {
                        ++i; // "" inside quotes: one literal quote, still quoted
                    } else {
                        literal = false;
                        in_quotes = !in_quotes;
                    }
                }
                backslashes /= 2;
            }
            argument.append(backslashes, BACKSLASH);
            if (i == end || (!in_quotes && is_blank(command_line[i]))) {
                break;
            }
            if (literal) {
                argument.push_back(command_line[i]);
            }
            ++i;
        }
        elements.push_back(std::move(argument));
    }
    return elements;
}

std::optional<std::string_view> help_or_version(const std::vector<WideString>& split,
                                                std::string_view help, std::string_view version) {
    if (split.size() != 2) {
        return std::nullopt;
    }
    if (split[1] == to_wide("--help")) {
        return help;
    }
    if (split[1] == to_wide("--version")) {
        return version;
    }
    return std::nullopt;
}
