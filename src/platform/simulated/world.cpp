#include "platform/simulated/world.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>

namespace sim::detail {

namespace {
thread_local DWORD last_error = 0;
std::chrono::steady_clock::time_point clock_start = std::chrono::steady_clock::now();
ULONGLONG skipped_milliseconds = 0;
thread_local DWORD this_pid = 1;
thread_local unsigned guard_depth = 0;

// How the journal names a wait's time limit.
std::string timeout_text(DWORD milliseconds) {
    return milliseconds == INFINITE ? "INFINITE" : std::to_string(milliseconds);
}

// A wait on any of `objects`: the index of the first signalled one, taken, added to
// WAIT_OBJECT_0 (WAIT_ABANDONED_0 for an abandoned mutex).
DWORD wait_for_any(std::unique_lock<std::recursive_mutex>& lock, const std::vector<HANDLE>& handles,
                   DWORD milliseconds) {
    std::vector<std::shared_ptr<Waitable>> objects;
    for (const HANDLE handle : handles) {
        if (!object_of(handle)) {
            set_last_error(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object_as<Waitable>(handle));
        if (!objects.back()) {
            not_modelled(std::string("a wait on a ") + object_of(handle)->kind());
        }
    }
    DWORD result = WAIT_TIMEOUT;
    const auto ended = [&] {
        const auto found =
            std::ranges::find_if(objects, [](const auto& o) { return o->signalled(); });
        if (found != objects.end()) {
            result = (*found)->take() + static_cast<DWORD>(found - objects.begin());
        }
        return found != objects.end();
    };
    if (ended() || milliseconds == 0) {
        return result;
    }
    note_blocking_wait();
    if (milliseconds == INFINITE) {
        world_signal().wait(lock, ended);
        return result;
    }
    // The time limit runs on the machine's clock, which pass_time moves on.
    const ULONGLONG deadline = ticks() + milliseconds;
    for (ULONGLONG now = ticks(); !ended() && now < deadline; now = ticks()) {
        world_signal().wait_for(lock, std::chrono::milliseconds(deadline - now));
    }
    return result;
}

// The fault registered for this call, if one fires now.
std::optional<Fault> take_fault(std::string_view function, std::u16string_view argument) {
    auto& faults = world().faults;
    const std::string key = utf8(argument);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->fault.function != function ||
            (!it->fault.argument.empty() && it->fault.argument != key)) {
            continue;
        }
        if (--it->remaining == 0) {
            Fault fired = it->fault;
            faults.erase(it);
            return fired;
        }
    }
    return std::nullopt;
}

} // namespace

Guard::Guard() : lock_(world_lock()) {
    ++guard_depth;
}

Guard::~Guard() {
    if (--guard_depth == 0) {
        lock_.unlock();
        deliver_due_console_events();
    }
}

ULONGLONG ticks() {
    const auto real = std::chrono::steady_clock::now() - clock_start;
    return static_cast<ULONGLONG>(
               std::chrono::duration_cast<std::chrono::milliseconds>(real).count()) +
           skipped_milliseconds;
}

World& world() {
    static World instance;
    return instance;
}

std::recursive_mutex& world_lock() {
    static std::recursive_mutex lock;
    return lock;
}

std::condition_variable_any& world_signal() {
    static std::condition_variable_any signal;
    return signal;
}

DWORD current_pid() {
    return this_pid;
}
void set_current_pid(DWORD pid) {
    this_pid = pid;
}

Process& current_process() {
    return *world().processes.at(this_pid);
}

HANDLE add_handle(std::shared_ptr<Object> object) {
    auto& w = world();
    const std::uintptr_t value = w.next_handle;
    w.next_handle += 4;
    w.handles[value] = HandleEntry{std::move(object), current_pid()};
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* handle_entry(HANDLE handle) {
    auto& handles = world().handles;
    const auto found = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles.end() ? nullptr : &found->second;
}

std::string kind_of(HANDLE handle) {
    const auto object = object_of(handle);
    return object ? object->kind() : "?";
}

std::shared_ptr<Object> object_of(HANDLE handle) {
    const HandleEntry* entry = handle_entry(handle);
    return entry == nullptr ? nullptr : entry->object;
}

void record(std::string entry) {
    note_console_hooks(entry);
    world().journal.push_back(std::move(entry));
}

void set_last_error(DWORD error) {
    last_error = error;
}

void not_modelled(std::string_view what) {
    std::cerr << "simulated Windows does not model " << what << std::endl;
    std::abort();
}

void Call::open(std::string_view function, std::string_view details, std::u16string_view key) {
    std::string line(function);
    if (!details.empty()) {
        line += ' ';
        line += details;
    }
    record(std::move(line));
    fault_ = take_fault(function, key);
}

std::string flag_names(DWORD value, std::span<const FlagName> names) {
    std::string text;
    const auto add = [&text](std::string_view name) {
        text += text.empty() ? "" : "|";
        text += name;
    };
    DWORD named = 0;
    for (const auto& [mask, name] : names) {
        if ((value & mask) == mask && (mask & ~named) != 0) {
            add(name);
            named |= mask;
        }
    }
    const DWORD rest = value & ~named;
    if (rest != 0 || text.empty()) {
        add(hex(rest));
    }
    return text;
}

void put_text(std::u16string_view text, WCHAR* buffer) {
    std::ranges::copy(text, buffer);
    buffer[text.size()] = 0;
}

DWORD copy_out(std::u16string_view text, WCHAR* buffer, DWORD size) {
    if (text.size() + 1 > size) {
        return static_cast<DWORD>(text.size() + 1);
    }
    put_text(text, buffer);
    return static_cast<DWORD>(text.size());
}

std::u16string utf16(std::string_view text) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    std::u16string out;
    for (std::size_t at = 0; at < text.size();) {
        if (byte(at) == 0xED && at + 2 < text.size() && (byte(at + 1) & 0xE0) == 0xA0 &&
            (byte(at + 2) & 0xC0) == 0x80) {
            out.push_back(static_cast<char16_t>(0xD000 | ((byte(at + 1) & 0x3F) << 6) |
                                                (byte(at + 2) & 0x3F)));
            at += 3;
            continue;
        }
        const unicode::Decoded next = unicode::decode_utf8(text, at);
        unicode::append_utf16(out, next.scalar.value_or(unicode::REPLACEMENT));
        at += next.length;
    }
    return out;
}

std::u16string fold_case(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        c = fold_unit(c);
    }
    return out;
}

DWORD Stream::write(std::string_view bytes) {
    if (write_error != 0) {
        return write_error;
    }
    captured.append(bytes);
    return 0;
}

DWORD Stream::file_type() const {
    switch (type) {
    case StreamKind::Console:
    case StreamKind::Device:
        return FILE_TYPE_CHAR;
    case StreamKind::Pipe:
        return FILE_TYPE_PIPE;
    case StreamKind::File:
        return FILE_TYPE_DISK;
    }
    return FILE_TYPE_UNKNOWN;
}

namespace {

// A standard stream of `process`, behind a handle that the process never closes (owner 0, so no
// census counts it) and that is not inheritable until someone says so.
void give_standard_stream(Process& process, int index, std::shared_ptr<Stream> stream) {
    process.std_handles[index] = add_handle(stream);
    world().handles[reinterpret_cast<std::uintptr_t>(process.std_handles[index])].owner = 0;
    process.std_streams[index] = std::move(stream);
}

// Standard input, output and error: three pipes.
void give_standard_pipes(Process& process) {
    give_standard_stream(process, 0, std::make_shared<Stream>(StreamKind::Pipe));
    give_standard_stream(process, 1, std::make_shared<Stream>(StreamKind::Pipe));
    give_standard_stream(process, 2, std::make_shared<Stream>(StreamKind::Pipe));
}

} // namespace

} // namespace sim::detail

using namespace sim::detail;

DWORD GetLastError() {
    return last_error;
}
void SetLastError(DWORD error) {
    last_error = error;
}

BOOL CloseHandle(HANDLE handle) {
    // A fault may name the kind of handle it closes ("thread").
    const Call call("CloseHandle", [&] {
        const std::string kind = kind_of(handle);
        return Line{kind, utf16(kind)};
    });
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    auto& handles = world().handles;
    const auto found = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles.end()) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (found->second.owner == 0) {
        not_modelled(std::string("CloseHandle of a standard handle or a console's: ") +
                     found->second.object->kind());
    }
    const auto object = found->second.object;
    handles.erase(found);
    if (object.use_count() == 1) {
        object->last_handle_closed();
    }
    return TRUE;
}

BOOL SetHandleInformation(HANDLE object, DWORD mask, DWORD flags) {
    const Call call("SetHandleInformation",
                    [&] { return kind_of(object) + " " + hex(mask) + " " + hex(flags); });
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    HandleEntry* entry = handle_entry(object);
    if (entry == nullptr) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((mask & ~HANDLE_FLAG_INHERIT) != 0) {
        not_modelled("SetHandleInformation with a flag other than HANDLE_FLAG_INHERIT: " +
                     hex(mask));
    }
    if ((mask & HANDLE_FLAG_INHERIT) != 0) {
        entry->inheritable = (flags & HANDLE_FLAG_INHERIT) != 0;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Call call("WaitForSingleObject", [&] {
        const std::string kind = kind_of(handle);
        return Line{kind + " " + timeout_text(milliseconds), utf16(kind)};
    });
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    return wait_for_any(call.lock(), {handle}, milliseconds);
}

// Waits for any one of the objects.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) {
    const std::vector<HANDLE> objects(handles, handles + count);
    Call call("WaitForMultipleObjects", [&] {
        std::string kinds;
        for (const HANDLE handle : objects) {
            kinds += kind_of(handle) + " ";
        }
        return kinds + timeout_text(milliseconds);
    });
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    if (wait_all != FALSE) {
        not_modelled("WaitForMultipleObjects for all of the objects");
    }
    if (count == 0) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return wait_for_any(call.lock(), objects, milliseconds);
}

ULONGLONG GetTickCount64() {
    const Call call("GetTickCount64");
    return ticks();
}

// Not journaled: a comparison of two texts that touches nothing. Ordinal, with case folded as
// fold_case folds it.
int CompareStringOrdinal(LPCWSTR string1, int count1, LPCWSTR string2, int count2,
                         BOOL ignore_case) {
    Guard guard;
    const auto text = [ignore_case](LPCWSTR units, int count) {
        const std::u16string_view view =
            count < 0 ? std::u16string_view(units) : std::u16string_view(units, count);
        return ignore_case != FALSE ? fold_case(view) : std::u16string(view);
    };
    const int order = text(string1, count1).compare(text(string2, count2));
    return order < 0 ? CSTR_LESS_THAN : (order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN);
}

HLOCAL LocalFree(HLOCAL memory) {
    auto& blocks = world().local_allocations;
    const Call call("LocalFree", [&] {
        const auto found = blocks.find(memory);
        return found == blocks.end() ? std::string("?") : found->second;
    });
    if (call.failed<HLOCAL>()) {
        return memory;
    }
    if (memory == nullptr) {
        return nullptr;
    }
    if (blocks.erase(memory) == 0) {
        set_last_error(ERROR_INVALID_HANDLE);
        return memory;
    }
    return nullptr;
}

// The pseudo handle that stands for the calling process; it needs no closing.
HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

DWORD GetCurrentProcessId() {
    return current_pid();
}

namespace sim {

void reset() {
    finish_console_events();
    Guard guard;
    reset_processes();
    auto& w = world();
    // An environment block a failed FreeEnvironmentStringsW kept goes with the machine.
    for (const auto& [block, kind] : w.local_allocations) {
        if (kind == "environment block") {
            delete[] static_cast<const WCHAR*>(block);
        }
    }
    w = World{};
    clock_start = std::chrono::steady_clock::now();
    skipped_milliseconds = 0;
    auto launcher = std::make_shared<Process>();
    launcher->pid = 1;
    w.processes[1] = launcher;
    reset_files();
    reset_environment();
    reset_security();
    reset_system_folders();
    reset_mutexes();
    reset_events();
    reset_console();
    give_standard_pipes(*launcher);
    SetLastError(0);
}

void inject(Fault fault) {
    Guard guard;
    const unsigned call = fault.call == 0 ? 1 : fault.call;
    world().faults.push_back(PendingFault{std::move(fault), call});
}

std::size_t pending_faults() {
    Guard guard;
    return world().faults.size();
}

const std::vector<std::string>& journal() {
    return world().journal;
}

std::vector<std::string> journal_of(std::string_view function) {
    Guard guard;
    std::vector<std::string> matching;
    for (const auto& entry : world().journal) {
        if (names_function(entry, function)) {
            matching.push_back(entry);
        }
    }
    return matching;
}

void clear_journal() {
    Guard guard;
    world().journal.clear();
}

void set_stderr(std::optional<StreamKind> kind, Dword write_error, std::size_t capacity) {
    Guard guard;
    auto& process = current_process();
    if (process.std_handles[2] != nullptr) {
        world().handles.erase(reinterpret_cast<std::uintptr_t>(process.std_handles[2]));
    }
    process.std_streams[2].reset();
    process.std_handles[2] = nullptr;
    if (kind) {
        auto stream = std::make_shared<Stream>(*kind);
        stream->write_error = write_error;
        stream->capacity = capacity;
        give_standard_stream(process, 2, std::move(stream));
    }
}

std::string stderr_text() {
    Guard guard;
    const auto& stream = current_process().std_streams[2];
    return stream ? stream->captured : std::string();
}

Dword start_launcher() {
    Guard guard;
    auto& w = world();
    auto launcher = std::make_shared<Process>(*w.processes.at(1));
    launcher->pid = w.next_pid++;
    w.processes[launcher->pid] = launcher;
    give_standard_pipes(*launcher);
    return launcher->pid;
}

void pass_time(Dword milliseconds) {
    Guard guard;
    skipped_milliseconds += milliseconds;
    world_signal().notify_all();
}

ProcessScope::ProcessScope(Dword pid) : previous_(current_pid()) {
    set_current_pid(pid);
}
ProcessScope::~ProcessScope() {
    set_current_pid(previous_);
}

std::vector<std::string> open_handles() {
    Guard guard;
    std::vector<std::string> kinds;
    for (const auto& [value, entry] : world().handles) {
        if (entry.owner == current_pid()) {
            kinds.emplace_back(entry.object->kind());
        }
    }
    return kinds;
}

std::size_t unfreed_blocks() {
    Guard guard;
    return world().local_allocations.size();
}

} // namespace sim
