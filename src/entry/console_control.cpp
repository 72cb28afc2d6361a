#include "entry/console_control.hpp"

#include "common/windows_error.hpp"

#include <mutex>

struct ConsoleControl::State {
    State(UniqueHandle stop, UniqueHandle teardown)
        : signal(std::move(stop)), torn_down(std::move(teardown)) {}

    StopSignal signal;
    UniqueHandle torn_down;
};

namespace {

// Well inside the 5 seconds Windows gives a handler of a closed console before ending the process.
constexpr DWORD TEARDOWN_WAIT_MILLISECONDS = 3000;

// The state of the installed handler. A handler thread takes a reference under the lock, so a
// handler still running after the removal never uses closed handles.
std::mutex installed_lock;
std::shared_ptr<ConsoleControl::State> installed;

std::shared_ptr<ConsoleControl::State> installed_state() {
    const std::lock_guard lock(installed_lock);
    return installed;
}

BOOL WINAPI on_console_event(DWORD type) {
    const auto state = installed_state();
    // No run any more: the launcher is about to exit with its own status.
    if (!state) {
        return TRUE;
    }
    state->signal.raise();
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    state->signal.end_job();
    WaitForSingleObject(state->torn_down.get(), TEARDOWN_WAIT_MILLISECONDS);
    return TRUE;
}

[[nodiscard]] Result<UniqueHandle> manual_reset_event() {
    UniqueHandle event(CreateEventW(nullptr,   // not inheritable
                                    TRUE,      // manual reset: once set, every wait sees it
                                    FALSE,     // not set
                                    nullptr)); // unnamed
    if (!event) {
        return std::unexpected(win32_failure("cannot create console control events"));
    }
    return event;
}

} // namespace

Result<ConsoleControl> ConsoleControl::install() {
    auto stop = manual_reset_event();
    if (!stop) {
        return std::unexpected(stop.error());
    }
    auto teardown = manual_reset_event();
    if (!teardown) {
        return std::unexpected(teardown.error());
    }
    auto state = std::make_shared<State>(std::move(*stop), std::move(*teardown));
    {
        const std::lock_guard lock(installed_lock);
        installed = state;
    }
    if (!SetConsoleCtrlHandler(on_console_event, TRUE)) {
        const SandboxFailure failed = win32_failure("cannot install console control handler");
        const std::lock_guard lock(installed_lock);
        installed.reset();
        return std::unexpected(failed);
    }
    return ConsoleControl(std::move(state));
}

ConsoleControl::~ConsoleControl() {
    if (!state_) {
        return;
    }
    const LastErrorKept kept;
    SetConsoleCtrlHandler(on_console_event, FALSE);
    const std::lock_guard lock(installed_lock);
    installed.reset();
}

StopSignal& ConsoleControl::signal() const {
    return state_->signal;
}

void ConsoleControl::torn_down() const {
    SetEvent(state_->torn_down.get());
}
