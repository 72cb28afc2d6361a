// The child's command line: one string from which the C runtime's argument splitting (and
// CommandLineToArgvW) gives back the program path and every argument unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The element for one text: unchanged when it is not empty and holds no double quote and no
// White_Space character; otherwise in double quotes, with the backslashes before a quote or the
// closing quote doubled and each inner quote escaped. Never writes "" inside a quoted span,
// where CommandLineToArgvW and the C runtime disagree.
std::string quote_argument(std::string_view text);

// The quoted program and the quoted arguments, separated by single spaces.
std::string build_command_line(std::string_view program, const std::vector<std::string>& arguments);
