// Manual-reset events: set once, they stay set, and every wait on them ends. A named one is shared
// by the processes that create or open it by its name, case included, while a handle refers to
// it.
#include "platform/simulated/world.hpp"

namespace sim::detail {
namespace {

struct Event : Waitable {
    bool set = false;
    const char* kind() const override { return "event"; }
    bool signalled() const override { return set; }
};

std::map<std::u16string, std::weak_ptr<Event>>& named_events() {
    static std::map<std::u16string, std::weak_ptr<Event>> table;
    return table;
}

constexpr FlagName EVENT_ACCESS[] = {{SYNCHRONIZE, "SYNCHRONIZE"}};

} // namespace

void reset_events() {
    named_events().clear();
}

} // namespace sim::detail

using namespace sim::detail;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state,
                    LPCWSTR name) {
    const std::u16string key = name == nullptr ? u"" : std::u16string(name);
    const Call call("CreateEventW", utf8(key));
    if (const auto failed = call.failed<HANDLE>()) {
        return *failed;
    }
    if (manual_reset == FALSE || attributes != nullptr) {
        not_modelled("CreateEventW of an auto-reset event or with security attributes");
    }
    if (const auto existing = key.empty() ? nullptr : named_events()[key].lock()) {
        set_last_error(ERROR_ALREADY_EXISTS);
        return add_handle(existing);
    }
    auto event = std::make_shared<Event>();
    event->set = initial_state != FALSE;
    if (!key.empty()) {
        named_events()[key] = event;
    }
    set_last_error(0);
    return add_handle(event);
}

HANDLE OpenEventW(DWORD desired_access, BOOL inherit_handle, LPCWSTR name) {
    const std::u16string key(name);
    const Call call("OpenEventW",
                    flag_names(desired_access, EVENT_ACCESS) + " " +
                        std::to_string(inherit_handle) + " " + utf8(key),
                    key);
    if (const auto failed = call.failed<HANDLE>()) {
        return *failed;
    }
    const auto found = named_events().find(key);
    const auto event = found == named_events().end() ? nullptr : found->second.lock();
    if (key.empty() || !event) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const HANDLE handle = add_handle(event);
    handle_entry(handle)->inheritable = inherit_handle != FALSE;
    return handle;
}

BOOL SetEvent(HANDLE handle) {
    const Call call("SetEvent");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto event = fail_unless<Event>(handle);
    if (!event) {
        return FALSE;
    }
    event->set = true;
    world_signal().notify_all();
    return TRUE;
}
