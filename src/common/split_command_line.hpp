// The argument splitting of the Microsoft C runtime (2008 and later), as a program's argv sees
// its command line.
#pragma once

#include "common/text.hpp"

#include <optional>
#include <string_view>
#include <vector>

// The first element is the program name: quotes toggle quoting and are dropped, backslashes are
// plain characters, and a space or tab outside quotes ends it. Then the arguments: spaces and
// tabs separate outside quotes; 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n+1 give n backslashes and a literal quote; other backslashes are literal;
// inside quotes "" gives one literal quote and quoting goes on.
std::vector<WideString> split_command_line(WideStringView command_line);

// What a program prints for `--help` or `--version` given as its only argument: `help` or
// `version`; nothing for any other command line. `split` is the whole command line as split above.
std::optional<std::string_view> help_or_version(const std::vector<WideString>& split,
                                                std::string_view help, std::string_view version);
