// One sandboxed run, from a validated request to the child's exit code.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"
#include "run/stop_signal.hpp"

// Grants, mounts, prepares and launches the child, and releases everything it made on every way
// out, fatal stops included. Gives the child's exit code (0..255; 125 for a code of 256 or
// more). The AppContainer profile and the access entries stay; the environment changes are not
// undone. A `stop` raised before the child is resumed ends the run at its next step, the wait for
// the allocation lock included; after that the child, on the same console, decides.
Result<int> run_sandbox(const SandboxRequest& request, StopSignal& stop);
