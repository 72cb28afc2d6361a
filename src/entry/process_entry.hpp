// The process from its command line to its exit status.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

#include <string_view>

// Splits `command_line` as the C runtime does, drops the launcher's own name, parses, runs and
// prints at most one line on standard error. Gives the exit status: the child's code (0..255),
// 126 for a failure of the system, 101 for a fatal stop.
int run_process(WideStringView command_line);
