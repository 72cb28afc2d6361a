// The stage trace that lets a caller follow a run from outside.
#pragma once

#include "common/text.hpp"

#include <string_view>

// Writes "sandbox-stage=<stage>" to standard error when NORIX_SANDBOX_TRACE is defined (with any
// value, an empty one included), looked up anew at every call. Without a standard error the
// line is dropped; a write that fails is a FatalStop. The thread's last-error value is kept.
void trace_stage(std::string_view stage);

// The same line with " path=<path>" appended; an unpaired surrogate in the path shows as U+FFFD.
void trace_stage(std::string_view stage, WideStringView path);

// The stage of the last trace_stage call, traced or not (tracing may be off), for the run's
// report; empty before the first one and after forget_last_stage.
std::string_view last_stage();
void forget_last_stage();
