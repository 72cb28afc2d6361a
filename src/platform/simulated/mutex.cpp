// Named mutexes shared by the simulated launcher processes, with abandonment when an owner ends.
#include "platform/simulated/world.hpp"

#include <utility>

namespace sim::detail {
namespace {

// Owned by a process rather than a thread: every simulated launcher has one thread.
struct Mutex : Waitable {
    std::u16string name;
    DWORD owner = 0; // pid, 0 when free
    unsigned recursion = 0;
    bool abandoned = false; // the next wait that takes it returns WAIT_ABANDONED

    const char* kind() const override { return "mutex"; }
    bool signalled() const override { return owner == 0 || owner == current_pid(); }
    DWORD take() override {
        if (owner == current_pid()) {
            ++recursion;
            return WAIT_OBJECT_0;
        }
        owner = current_pid();
        recursion = 1;
        return std::exchange(abandoned, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
};

// A named mutex lives while a handle refers to it.
std::map<std::u16string, std::weak_ptr<Mutex>>& named_mutexes() {
    static std::map<std::u16string, std::weak_ptr<Mutex>> table;
    return table;
}

} // namespace

void reset_mutexes() {
    named_mutexes().clear();
}

} // namespace sim::detail

using namespace sim::detail;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCWSTR name) {
    const std::u16string key = name == nullptr ? u"" : std::u16string(name);
    const Call call("CreateMutexW", utf8(key), key);
    if (const auto failed = call.failed<HANDLE>()) {
        return *failed;
    }
    if (attributes != nullptr) {
        not_modelled("CreateMutexW with security attributes");
    }
    // Names in the Local namespace are compared as they are, case included.
    if (!key.empty()) {
        if (auto existing = named_mutexes()[key].lock()) {
            set_last_error(ERROR_ALREADY_EXISTS);
            return add_handle(existing);
        }
    }
    auto mutex = std::make_shared<Mutex>();
    mutex->name = key;
    if (initial_owner != FALSE) {
        mutex->owner = current_pid();
        mutex->recursion = 1;
    }
    if (!key.empty()) {
        named_mutexes()[key] = mutex;
    }
    set_last_error(0);
    return add_handle(mutex);
}

BOOL ReleaseMutex(HANDLE handle) {
    const Call call("ReleaseMutex");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto mutex = fail_unless<Mutex>(handle);
    if (!mutex) {
        return FALSE;
    }
    if (mutex->owner != current_pid()) {
        set_last_error(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--mutex->recursion == 0) {
        mutex->owner = 0;
        world_signal().notify_all();
    }
    return TRUE;
}

namespace sim {

// The process record stays, so that the thread that acted as the launcher can still call in; it
// finds none of its handles.
void end_launcher(Dword pid) {
    Guard guard;
    auto& w = world();
    std::vector<std::shared_ptr<Object>> closed;
    for (auto it = w.handles.begin(); it != w.handles.end();) {
        if (const auto mutex = std::dynamic_pointer_cast<Mutex>(it->second.object);
            mutex && mutex->owner == pid) {
            mutex->owner = 0;
            mutex->recursion = 0;
            mutex->abandoned = true;
        }
        if (it->second.owner == pid) {
            closed.push_back(it->second.object);
            it = w.handles.erase(it);
        } else {
            ++it;
        }
    }
    // As when a process ends on Windows, an object whose last handle closes goes (a kill-on-close
    // job ends its processes).
    while (!closed.empty()) {
        const auto object = std::move(closed.back());
        closed.pop_back();
        if (object.use_count() == 1) {
            object->last_handle_closed();
        }
    }
    world_signal().notify_all();
}

std::vector<std::string> owned_mutexes() {
    Guard guard;
    std::vector<std::string> names;
    for (const auto& [name, weak] : named_mutexes()) {
        if (const auto mutex = weak.lock(); mutex && mutex->owner == current_pid()) {
            names.push_back(utf8(name));
        }
    }
    return names;
}

} // namespace sim
