// The console's control events: the launcher's handler list and the deliveries, each on a thread of
// its own as Windows makes them.
#include "platform/simulated/world.hpp"

#include <thread>
#include <utility>

namespace sim::detail {
namespace {

// The launcher that owns the console; the children share it.
constexpr DWORD CONSOLE_OWNER = 1;

struct ConsoleEvent {
    DWORD type = 0;
    std::function<void()> at_end;
};

// An event to send once a call has been made `remaining` more times.
struct Hook {
    std::string function;
    unsigned remaining = 1;
    ConsoleEvent event;
};

struct Console {
    std::map<DWORD, std::vector<PHANDLER_ROUTINE>> handlers; // by process, newest first
    std::vector<Hook> hooks;
    std::vector<std::thread> deliveries;

    Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() {
        for (auto& thread : deliveries) {
            thread.join();
        }
    }
};

Console& console() {
    static Console instance;
    return instance;
}

// On a delivering thread: set once its handlers have returned or wait.
thread_local bool* delivery_settled = nullptr;
// Events that calls on this thread set off, sent once the call has returned.
thread_local std::vector<ConsoleEvent> due_events;

// After these Windows ends the process when its handler returns.
bool ends_process(DWORD type) {
    return type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
}

void deliver(Guard& guard, ConsoleEvent event) {
    auto settled = std::make_shared<bool>(false);
    console().deliveries.emplace_back([event = std::move(event), settled] {
        set_current_pid(CONSOLE_OWNER);
        delivery_settled = settled.get();
        std::vector<PHANDLER_ROUTINE> handlers;
        {
            Guard delivering;
            console_event_to_processes();
            handlers = console().handlers[CONSOLE_OWNER];
        }
        const auto handled = [&](PHANDLER_ROUTINE handler) { return handler(event.type) != FALSE; };
        if (!std::ranges::any_of(handlers, handled)) {
            sim::end_launcher(CONSOLE_OWNER); // the default handler: ExitProcess
        }
        if (event.at_end && ends_process(event.type)) {
            event.at_end();
        }
        Guard done;
        *settled = true;
        world_signal().notify_all();
    });
    world_signal().wait(guard.lock(), [&] { return *settled; });
}

} // namespace

void note_console_hooks(std::string_view entry) {
    auto& hooks = console().hooks;
    for (auto hook = hooks.begin(); hook != hooks.end();) {
        if (names_function(entry, hook->function) && --hook->remaining == 0) {
            due_events.push_back(std::move(hook->event));
            hook = hooks.erase(hook);
        } else {
            ++hook;
        }
    }
}

void deliver_due_console_events() {
    for (auto& event : std::exchange(due_events, {})) {
        Guard guard;
        deliver(guard, std::move(event));
    }
}

void note_blocking_wait() {
    if (delivery_settled != nullptr) {
        *delivery_settled = true;
        world_signal().notify_all();
    }
}

void reset_console() {
    console().handlers.clear();
    console().hooks.clear();
}

} // namespace sim::detail

using namespace sim::detail;

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    const Call call("SetConsoleCtrlHandler", add != FALSE ? "add" : "remove");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (routine == nullptr) {
        not_modelled("SetConsoleCtrlHandler with a null routine (whether Ctrl+C is ignored)");
    }
    auto& handlers = console().handlers[current_pid()];
    const auto found = std::ranges::find(handlers, routine);
    if (add == FALSE && found == handlers.end()) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (add != FALSE) {
        handlers.insert(handlers.begin(), routine);
    } else {
        handlers.erase(found);
    }
    return TRUE;
}

namespace sim {

void send_console_event(Dword type, std::function<void()> at_end) {
    Guard guard;
    deliver(guard, ConsoleEvent{type, std::move(at_end)});
}

void send_console_event_after(std::string function, unsigned call, Dword type,
                              std::function<void()> at_end) {
    Guard guard;
    console().hooks.push_back(
        Hook{std::move(function), call, ConsoleEvent{type, std::move(at_end)}});
}

void finish_console_events() {
    for (;;) {
        std::vector<std::thread> deliveries;
        {
            Guard guard;
            deliveries = std::exchange(console().deliveries, {});
        }
        if (deliveries.empty()) {
            return;
        }
        for (auto& thread : deliveries) {
            thread.join();
        }
    }
}

} // namespace sim
