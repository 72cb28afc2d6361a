// The process of norix-native-sandbox-cleanup.exe from its command line to its exit status.
#pragma once

#include "common/text.hpp"

#include <string_view>

inline constexpr std::string_view CLEANUP_USAGE =
    "usage: norix-native-sandbox-cleanup <scratch directory or mount record>";

inline constexpr int CLEANUP_FAILURE_STATUS = 1;

// Takes exactly one argument after the program's name, split as the C runtime does. `--help` or
// `--version` alone writes its text to standard output and gives 0. Otherwise writes the line of
// each recorded letter, then on failure one line "native sandbox cleanup failed: ...", to
// standard error. Gives 0 when the record was read, its letters dealt with and the record
// deleted, and the lines were written where there is a standard error; else 1.
int run_cleanup_process(WideStringView command_line);
