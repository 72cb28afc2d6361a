// The child's launch: suspended inside the AppContainer, into a kill-on-close job, resumed and
// waited for.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "run/stop_signal.hpp"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// The run's exit code when the child's own code does not fit in 0..255.
inline constexpr int FALLBACK_EXIT_CODE = 125;

// What the launch starts (the AppContainer the child runs as, its command line and current
// directory) and what the host asked of the wait.
struct ChildLaunch {
    PSID app_container_sid = nullptr;
    std::string_view program; // as the command line gives it, for a failed creation
    std::string_view command_line;
    std::string_view current_directory;
    std::optional<DWORD> time_limit; // milliseconds, from the resume on
    // Called once the child is resumed, with its process id; a failure ends the child.
    std::function<Result<void>(DWORD)> started;
};

// How the child's part of a run ended: by itself (or through a console event), at the time
// limit, or by the host's stop event.
struct ChildEnd {
    enum class Kind { Exited, TimedOut, Stopped };
    Kind kind = Kind::Exited;
    DWORD exit_code = 0; // Exited: the child's own code
};

// An unnamed, non-inheritable job whose processes, descendants included, are ended when its last
// handle closes and have no use of the clipboard, system parameters, display settings, logoff,
// desktops or the user handles of processes outside it. No other limit.
[[nodiscard]] Result<UniqueHandle> create_sandbox_job();

// Starts the command line suspended as the AppContainer with no capabilities, the launcher's
// environment and, of its handles, only its valid standard ones (made inheritable), in the
// current directory; puts it into a sandbox job, resumes it and waits, in one wait, for the child,
// the host's stop event and the time limit. At the limit or the host's stop the job's processes
// are ended. Every buffer and handle of the launch is released before it returns; a child that
// never reached the job is ended, not left suspended. The job is published to `stop` while the
// child is in it; a stop raised before the resume ends the launch there, and a console stop found
// just after the resume ends the child as the event would have.
[[nodiscard]] Result<ChildEnd> launch_sandbox_child(const ChildLaunch& launch, StopSignal& stop);
