// Failures are returned values; fatal stops are the one exception the entry catches.
#pragma once

#include <expected>
#include <stdexcept>
#include <string>

struct SandboxFailure {
    std::string message;

    bool operator==(const SandboxFailure&) const = default;
};

template <class T> using Result = std::expected<T, SandboxFailure>;

inline std::unexpected<SandboxFailure> failure(std::string message) {
    return std::unexpected(SandboxFailure{std::move(message)});
}

// A run stopped by a console control event (Ctrl+C, Ctrl+Break, a closed console, logoff or
// shutdown) before its child started.
inline std::unexpected<SandboxFailure> interrupted() {
    return failure("sandbox run interrupted by a console control event");
}

// A condition the run cannot turn into a SandboxFailure (a failed write to an existing standard
// error, a failed change of the launcher's own environment). It unwinds through the run so the
// guards release, and only the entry catches it.
class FatalStop : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
