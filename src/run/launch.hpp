// The child's launch: suspended inside the AppContainer, into a kill-on-close job, resumed and
// waited for.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "run/stop_signal.hpp"

#include <string_view>
#include <vector>

// The run's exit code when the child's own code does not fit in 0..255.
inline constexpr int FALLBACK_EXIT_CODE = 125;

// An unnamed, non-inheritable job whose processes, descendants included, are ended when its last
// handle closes and have no use of the clipboard, system parameters, display settings, logoff,
// desktops or the user handles of processes outside it. No other limit.
Result<UniqueHandle> create_sandbox_job();

// Starts `command_line` suspended as the AppContainer `app_container_sid` with no capabilities,
// the launcher's environment and, of its handles, only its valid standard ones (made
// inheritable), in `current_directory`; puts it into a sandbox job, resumes it and waits for it
// without a time limit. Gives the child's exit code when it is below 256, else
// FALLBACK_EXIT_CODE. Every buffer and handle of the launch is released before it returns; a child
// that never reached the job is ended, not left suspended. The job is published to `stop` while
// the child is in it; a stop raised before the resume ends the launch there.
Result<int> launch_sandbox_child(PSID app_container_sid, std::string_view command_line,
                                 std::string_view current_directory, StopSignal& stop);
