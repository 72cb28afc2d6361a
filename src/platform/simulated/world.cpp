#include "platform/simulated/world.hpp"

#include <algorithm>

namespace sim::detail {

namespace {
thread_local DWORD last_error = 0;
thread_local DWORD this_pid = 1;
} // namespace

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

std::shared_ptr<Object> object_of(HANDLE handle) {
    auto& w = world();
    const auto found = w.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == w.handles.end() ? nullptr : found->second.object;
}

void record(std::string entry) {
    world().journal.push_back(std::move(entry));
}

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

void set_last_error(DWORD error) {
    last_error = error;
}

std::string utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c < 0x80) { // most of what the journal records
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string utf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
        char32_t c = b(i);
        std::size_t length = 1;
        if (c >= 0xF0 && i + 3 < text.size()) {
            c = ((c & 0x07) << 18) | ((b(i + 1) & 0x3F) << 12) | ((b(i + 2) & 0x3F) << 6) |
                (b(i + 3) & 0x3F);
            length = 4;
        } else if (c >= 0xE0 && i + 2 < text.size()) {
            c = ((c & 0x0F) << 12) | ((b(i + 1) & 0x3F) << 6) | (b(i + 2) & 0x3F);
            length = 3;
        } else if (c >= 0xC0 && i + 1 < text.size()) {
            c = ((c & 0x1F) << 6) | (b(i + 1) & 0x3F);
            length = 2;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return out;
}

std::string hex(std::uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + out;
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

} // namespace sim::detail

using namespace sim::detail;

DWORD GetLastError() {
    return last_error;
}
void SetLastError(DWORD error) {
    last_error = error;
}

BOOL CloseHandle(HANDLE handle) {
    Guard guard;
    auto& handles = world().handles;
    const auto found = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    record("CloseHandle " +
           std::string(found == handles.end() ? "?" : found->second.object->kind()));
    if (const auto failed = injected<BOOL>("CloseHandle")) {
        return *failed;
    }
    if (found == handles.end() || found->second.owner == 0) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto object = found->second.object;
    handles.erase(found);
    if (object.use_count() == 1) {
        object->last_handle_closed();
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Guard guard;
    const auto object = object_of(handle);
    record("WaitForSingleObject " + std::string(object ? object->kind() : "?") + " " +
           (milliseconds == INFINITE ? std::string("INFINITE") : std::to_string(milliseconds)));
    if (const auto failed = injected<DWORD>("WaitForSingleObject")) {
        return *failed;
    }
    const auto result = object ? object->wait(guard.lock(), milliseconds) : std::nullopt;
    if (!result) {
        set_last_error(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return *result;
}

HLOCAL LocalFree(HLOCAL memory) {
    Guard guard;
    auto& blocks = world().local_allocations;
    const auto found = blocks.find(memory);
    record("LocalFree " + std::string(found == blocks.end() ? "?" : found->second));
    if (const auto fault = take_fault("LocalFree")) {
        set_last_error(fault->error);
        return memory;
    }
    if (memory == nullptr) {
        return nullptr;
    }
    if (found == blocks.end()) {
        set_last_error(ERROR_INVALID_HANDLE);
        return memory;
    }
    blocks.erase(found);
    return nullptr;
}

namespace sim {

void reset() {
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
    auto launcher = std::make_shared<Process>();
    launcher->pid = 1;
    w.processes[1] = launcher;
    reset_files();
    reset_environment();
    reset_security();
    reset_mutexes();
    set_stderr(StreamKind::Pipe);
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
        if (entry.starts_with(function) &&
            (entry.size() == function.size() || entry[function.size()] == ' ')) {
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
    auto& w = world();
    if (process.std_handles[2] != nullptr) {
        w.handles.erase(reinterpret_cast<std::uintptr_t>(process.std_handles[2]));
    }
    process.std_streams[2].reset();
    process.std_handles[2] = nullptr;
    if (kind) {
        auto stream = std::make_shared<Stream>(*kind);
        stream->write_error = write_error;
        stream->capacity = capacity;
        process.std_streams[2] = stream;
        process.std_handles[2] = add_handle(stream);
        w.handles[reinterpret_cast<std::uintptr_t>(process.std_handles[2])].owner = 0;
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
    for (auto& handle : launcher->std_handles) {
        handle = nullptr;
    }
    for (auto& stream : launcher->std_streams) {
        stream.reset();
    }
    w.processes[launcher->pid] = launcher;
    {
        ProcessScope scope(launcher->pid);
        set_stderr(StreamKind::Pipe);
    }
    return launcher->pid;
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
