// Console control events during a run. Ctrl+C and Ctrl+Break never end the launcher: they stop a
// run whose child has not started, and a running child, on the same console, decides for itself.
// After a closed console, a logoff or a shutdown Windows ends the launcher once the handler
// returns, so the handler also ends the child's tree through the job and waits, bounded, until
// the run's guards have torn down. The handler only signals and waits; it releases nothing.
#pragma once

#include "common/failure.hpp"
#include "run/stop_signal.hpp"

#include <memory>

// The handler, installed for one run of the process. Move-only; removes the handler when it goes.
class ConsoleControl {
public:
    [[nodiscard]] static Result<ConsoleControl> install();

    ConsoleControl(ConsoleControl&&) noexcept = default;
    ConsoleControl& operator=(ConsoleControl&&) = delete;
    ConsoleControl(const ConsoleControl&) = delete;
    ConsoleControl& operator=(const ConsoleControl&) = delete;
    ~ConsoleControl();

    StopSignal& signal() const;
    // The run has returned, or a fatal stop has unwound out of it: its guards have run.
    void torn_down() const;

    // What a handler thread shares with the run; it outlives the run while a handler uses it.
    struct State;

private:
    explicit ConsoleControl(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};
