// One sandboxed run, from a validated request to the launcher's status.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"
#include "run/stop_signal.hpp"

// The status of a run whose time limit ended the child, as coreutils' timeout gives it.
inline constexpr int TIMED_OUT_STATUS = 124;
// The status of a run that the host's stop event ended while the child ran (128 + SIGINT).
inline constexpr int STOPPED_STATUS = 130;

// Grants, mounts, prepares and launches the child, and releases everything it made on every way
// out, fatal stops included. Gives the child's exit code (0..255; 125 for a code of 256 or
// more), or TIMED_OUT_STATUS or STOPPED_STATUS. The AppContainer profile and the access entries
// stay; the environment changes are not undone. A `stop` raised before the child is resumed ends
// the run at its next step, the wait for the allocation lock included; after that the child, on
// the same console, decides. With a report asked for, it is made before anything else the run
// changes, and its closing line is written once the run has torn down; a report that cannot be
// written fails the run.
[[nodiscard]] Result<int> run_sandbox(const SandboxRequest& request, StopSignal& stop);
