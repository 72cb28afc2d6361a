// Failures are returned values; fatal stops are the one exception the entry catches.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <stdexcept>
#include <string>

// The launcher's status after a failure of the system, and after a fatal stop: the run could not
// go on, and what it made has been released.
inline constexpr int FAILURE_EXIT_STATUS = 126;
inline constexpr int FATAL_EXIT_STATUS = 101;

// The Windows code a failure's message ends with, for a report that a program reads.
struct WindowsCode {
    enum class Kind { Win32, Hresult };
    Kind kind = Kind::Win32;
    std::uint32_t value = 0;

    bool operator==(const WindowsCode&) const = default;
};

struct SandboxFailure {
    std::string message;
    std::optional<WindowsCode> code;
    // The program as the child's command line gives it, when creating the child failed.
    std::string program;

    bool operator==(const SandboxFailure&) const = default;
};

template <class T> using Result = std::expected<T, SandboxFailure>;

inline std::unexpected<SandboxFailure> failure(std::string message) {
    return std::unexpected(SandboxFailure{std::move(message)});
}

inline constexpr const char* INTERRUPTION = "sandbox run interrupted by a console control event";

// A run stopped before its child started: by a console control event (Ctrl+C, Ctrl+Break, a
// closed console, logoff or shutdown), or by the host through its stop event.
inline std::unexpected<SandboxFailure> interrupted() {
    return failure(INTERRUPTION);
}

// A condition the run cannot turn into a SandboxFailure (a failed write to an existing standard
// error, a failed change of the launcher's own environment). It unwinds through the run so the
// guards release, and only the entry catches it.
class FatalStop : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
