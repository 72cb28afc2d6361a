// One sandboxed run, from a validated request to the child's exit code.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"

// Grants, mounts, prepares and launches the child, and releases everything it made on every way
// out, fatal stops included. Gives the child's exit code (0..255; 125 for a code of 256 or
// more). The AppContainer profile and the access entries stay; the environment changes are not
// undone.
Result<int> run_sandbox(const SandboxRequest& request);
