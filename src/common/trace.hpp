// The stage trace that lets a caller follow a run from outside, and the Win32 failure text.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

#include <string_view>

// Writes "sandbox-stage=<stage>" to standard error when NORIX_SANDBOX_TRACE is defined (with any
// value, an empty one included), looked up anew at every call. Without a standard error the
// line is dropped; a write that fails is a FatalStop. The thread's last-error value is kept.
void trace_stage(std::string_view stage);

// The same line with " path=<path>" appended; an unpaired surrogate in the path shows as U+FFFD.
void trace_stage(std::string_view stage, WideStringView path);

// "<what>: Win32 <last-error value>", the value read before anything else can change it.
SandboxFailure win32_failure(std::string_view what);
