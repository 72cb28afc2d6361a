#include "run/child_command_line.hpp"

#include "common/text.hpp"

#include <algorithm>

namespace {

// The characters of the Unicode White_Space property beyond ASCII; every one lies in the Basic
// Multilingual Plane.
bool is_white_space_beyond_ascii(WCHAR c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool needs_quotes(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    bool ascii = true;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == ' ' || (byte >= 0x09 && byte <= 0x0D)) {
            return true;
        }
        ascii = ascii && byte < 0x80;
    }
    // The other White_Space characters lie outside ASCII; only such a text is decoded to find
    // them.
    return !ascii && std::ranges::any_of(to_wide(text), is_white_space_beyond_ascii);
}

} // namespace

std::string quote_argument(std::string_view text) {
    if (!needs_quotes(text)) {
        return std::string(text);
    }
    // Backslashes and quotes are ASCII and never part of a longer UTF-8 sequence, so the text is
    // walked byte by byte and every other byte is copied as it is.
    std::string quoted = "\"";
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t backslashes = 0;
        while (i < text.size() && text[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == text.size()) {
            // Doubled so the closing quote stays a quote.
            quoted.append(2 * backslashes, '\\');
            break;
        }
        if (text[i] == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        quoted.push_back(text[i]);
        ++i;
    }
    quoted.push_back('"');
    return quoted;
}

std::string build_command_line(std::string_view program,
                               const std::vector<std::string>& arguments) {
    std::string line = quote_argument(program);
    for (const auto& argument : arguments) {
        line.push_back(' ');
        line += quote_argument(argument);
    }
    return line;
}
