// Unnamed manual-reset events: set once, they stay set, and every wait on them ends.
#include "platform/simulated/world.hpp"

namespace sim::detail {
namespace {

struct Event : Waitable {
    bool set = false;
    const char* kind() const override { return "event"; }
    bool signalled() const override { return set; }
};

} // namespace
} // namespace sim::detail

using namespace sim::detail;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manual_reset, BOOL initial_state,
                    LPCWSTR name) {
    Guard guard;
    record("CreateEventW");
    if (auto fault = take_fault("CreateEventW")) {
        set_last_error(fault->error);
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fault->result));
    }
    if (manual_reset == FALSE || name != nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER); // not modelled
        return nullptr;
    }
    auto event = std::make_shared<Event>();
    event->set = initial_state != FALSE;
    return add_handle(event);
}

BOOL SetEvent(HANDLE handle) {
    Guard guard;
    record("SetEvent");
    if (const auto failed = injected<BOOL>("SetEvent")) {
        return *failed;
    }
    const auto event = object_as<Event>(handle);
    if (!event) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set = true;
    world_signal().notify_all();
    return TRUE;
}
