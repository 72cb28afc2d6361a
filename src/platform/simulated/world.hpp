// Internals of the simulated Windows, shared by its source files. Tests use control.hpp.
#pragma once

#include "encoding/hex.hpp"
#include "encoding/unicode.hpp"
#include "platform/simulated/control.hpp"
#include "platform/simulated/windows.hpp"

#include <algorithm>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace sim::detail {

// Anything a handle can refer to.
struct Object {
    virtual ~Object() = default;
    virtual const char* kind() const = 0;
    // WriteFile on the object; returns the error code, 0 on success.
    virtual DWORD write(std::string_view /*bytes*/) { return ERROR_INVALID_HANDLE; }
    // How many of `count` bytes a WriteFile that succeeds takes.
    virtual std::size_t accepts(std::size_t count) const { return count; }
    virtual DWORD file_type() const { return FILE_TYPE_UNKNOWN; }
    // Called by CloseHandle when the handle it closed was the object's last one.
    virtual void last_handle_closed() {}
};

// An object that waits can be made on. Both calls are made with the world lock held.
struct Waitable : Object {
    // Whether a wait by the current process would end now.
    virtual bool signalled() const = 0;
    // Ends such a wait: WAIT_OBJECT_0, or WAIT_ABANDONED for a mutex whose owner ended, which is
    // then owned.
    virtual DWORD take() { return WAIT_OBJECT_0; }
};

// Standard input, output or error of a simulated process.
struct Stream : Object {
    StreamKind type;
    std::string captured;  // UTF-8: bytes written, or console text converted
    DWORD write_error = 0; // when set, every write fails with it
    // When set, a write takes at most this many bytes and says so, as WriteFile does on a
    // non-blocking byte pipe whose buffer lacks room.
    std::size_t capacity = 0;

    explicit Stream(StreamKind k) : type(k) {}
    const char* kind() const override { return "stream"; }
    DWORD write(std::string_view bytes) override;
    std::size_t accepts(std::size_t count) const override {
        return capacity == 0 ? count : std::min(count, capacity);
    }
    DWORD file_type() const override;
};

struct Process {
    DWORD pid = 0;
    std::vector<std::u16string> environment; // "NAME=value" entries in block order
    std::u16string current_directory;        // full path, "C:\dir" or "C:\"
    std::u16string command_line;
    std::shared_ptr<Stream> std_streams[3]; // input, output, error; null: none
    HANDLE std_handles[3] = {nullptr, nullptr, nullptr};
};

struct HandleEntry {
    std::shared_ptr<Object> object;
    DWORD owner = 0;
    bool inheritable = false; // HANDLE_FLAG_INHERIT
};

// A fault that has not fired yet, with the calls still to pass before it does.
struct PendingFault {
    Fault fault;
    unsigned remaining;
};

struct World {
    std::map<std::uintptr_t, HandleEntry> handles;
    std::uintptr_t next_handle = 0x100;
    std::map<DWORD, std::shared_ptr<Process>> processes;
    DWORD next_pid = 100;
    std::vector<std::string> journal;
    std::vector<PendingFault> faults;
    std::map<const void*, std::string> local_allocations; // LocalFree-able blocks and their kind
};

World& world();
std::recursive_mutex& world_lock();

// Notified whenever something a wait may be waiting for changes (a mutex released, a process
// ended).
std::condition_variable_any& world_signal();

// The world lock, which every entry point of the simulated Windows takes first (through Call when
// the journal shows it). When the outermost one on a thread ends, console events that a call on
// that thread set off are delivered, with the lock free.
class Guard {
public:
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    std::unique_lock<std::recursive_mutex>& lock() { return lock_; }

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

Process& current_process();
DWORD current_pid();
void set_current_pid(DWORD pid);

HANDLE add_handle(std::shared_ptr<Object> object);
std::shared_ptr<Object> object_of(HANDLE handle);
// The entry of an open handle; null for a value that is none.
HandleEntry* handle_entry(HANDLE handle);
template <class T> std::shared_ptr<T> object_as(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(object_of(handle));
}
// How the journal names a handle's object: its kind, "?" for a handle that is none.
std::string kind_of(HANDLE handle);

// Adds to the journal; a console event set off by this call is due once the call returns.
void record(std::string entry);
// Whether a journal entry is a call of `function`.
inline bool names_function(std::string_view entry, std::string_view function) {
    return entry.starts_with(function) &&
           (entry.size() == function.size() || entry[function.size()] == ' ');
}
void set_last_error(DWORD error);

// Stops the test at an input that the simulated Windows does not model, which an error code would
// pass off as a refusal of Windows: writes "simulated Windows does not model <what>" to standard
// error and aborts (from any thread, and under the sanitizers). `what` names the call and the
// input.
[[noreturn]] void not_modelled(std::string_view what);

// A call's journal line after the function's name, and the key argument that an injected fault
// may name (the path, name or device the line shows).
struct Line {
    std::string details;
    std::u16string key;
};

// Opens every entry point that the journal shows: holds the world lock until the call returns,
// adds "Function details" to the journal and takes the fault injected for this call. A line that
// reads the world comes from `describe`, run once the lock is held.
class Call {
public:
    explicit Call(std::string_view function, std::string_view details = {},
                  std::u16string_view key = {}) {
        open(function, details, key);
    }
    template <std::invocable Describe> Call(std::string_view function, Describe describe) {
        const Line line{describe()};
        open(function, line.details, line.key);
    }

    // The fault that fired, for the functions that return their error code.
    const std::optional<Fault>& fault() const { return fault_; }
    // What the fault makes the call return, with the last error set; nothing when none fired.
    template <class R> std::optional<R> failed() const {
        if (!fault_) {
            return std::nullopt;
        }
        set_last_error(fault_->error);
        if constexpr (std::is_pointer_v<R>) {
            return reinterpret_cast<R>(static_cast<std::uintptr_t>(fault_->result));
        } else {
            return static_cast<R>(fault_->result);
        }
    }
    std::unique_lock<std::recursive_mutex>& lock() { return guard_.lock(); }

private:
    void open(std::string_view function, std::string_view details, std::u16string_view key);

    Guard guard_;
    std::optional<Fault> fault_;
};

// The object of `handle` as a T; null, with ERROR_INVALID_HANDLE, for a handle that is none or
// refers to something else.
template <class T> std::shared_ptr<T> fail_unless(HANDLE handle) {
    auto object = object_as<T>(handle);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
    }
    return object;
}

// A documented flag, or a set of them that has a name of its own, as the journal names it.
struct FlagName {
    DWORD mask;
    const char* name;
};
// A set of flags as the journal shows it: the names in `names` whose bits are all set and not yet
// named by an earlier one (a composite goes first), joined with "|", then the bits that none
// names in hex; "0x0" for none.
std::string flag_names(DWORD value, std::span<const FlagName> names);

// Copies `text` and a NUL to `buffer`.
void put_text(std::u16string_view text, WCHAR* buffer);
// The tail of the calls that return a length: the length copied, or, when `text` and its NUL do
// not fit in `size` units, the size needed, nothing copied.
DWORD copy_out(std::u16string_view text, WCHAR* buffer, DWORD size);

// Texts as the journal and the tests write them; what is not valid becomes U+FFFD.
inline std::string utf8(std::u16string_view text) {
    return unicode::utf8_from_utf16(text).text;
}
// A test writes a name with an unpaired surrogate, which no UTF-8 holds, in the three bytes that
// would encode it ("\xED\xA0\x80" for U+D800); what else is not valid becomes U+FFFD.
std::u16string utf16(std::string_view text);

std::u16string fold_case(std::u16string_view text);
// One unit as fold_case folds it: ASCII, Latin-1 and basic Cyrillic letters to upper case.
inline char16_t fold_unit(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x430 && c <= 0x44F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    return c;
}

// Per-area state, cleared by sim::reset.
void reset_files();
void reset_environment();
void reset_security();
void reset_system_folders();
// Called with the world lock held once; lets running child programs finish first.
void reset_processes();
void reset_mutexes();
void reset_events();
void reset_console();

// Console events (console.cpp). The journal entry just recorded may set one off, delivered by
// deliver_due_console_events once the thread's outermost Guard has let the lock go.
void note_console_hooks(std::string_view entry);
void deliver_due_console_events();
// Called before a wait blocks: on a thread delivering a console event, the handlers are waiting.
void note_blocking_wait();
// Every running process gets a console event: one that ignores events goes on, the others end as
// Windows' default handler ends them (processes.cpp).
void console_event_to_processes();

// The file system: the path after Win32 normalisation (GetFullPathNameW rules).
std::optional<std::u16string> full_path_of(std::u16string_view path, DWORD& error);

// The DACL of the file or directory at a Win32 path, following links (nothing: a null DACL), or
// null with the error that opening it gives.
using Dacl = std::optional<std::vector<AccessEntry>>;
Dacl* file_dacl(std::u16string_view path, DWORD& error);

// The DACL of a security descriptor the caller still holds (from
// ConvertStringSecurityDescriptorToSecurityDescriptorW), and whether it is protected from what a
// parent passes on; nothing for any other pointer.
struct DescriptorDacl {
    Dacl dacl;
    bool protected_dacl = false;
};
std::optional<DescriptorDacl> descriptor_dacl(const void* descriptor);

// Gives every file and directory below a Win32 path what it now inherits, keeping its own
// entries first.
void propagate_inheritance(std::u16string_view path);

// Whether a regular file exists at a Win32 path; its final "\\?\" path when it does.
std::optional<std::u16string> final_file_path(std::u16string_view path);
bool is_directory(std::u16string_view path);

// The tick count (GetTickCount64): real milliseconds since the machine's reset, plus the time
// that pass_time skipped.
ULONGLONG ticks();

// The text form ("S-1-15-2-...") of a SID the simulated Windows handed out and has not freed.
std::optional<std::string> live_sid_text(const void* sid);

} // namespace sim::detail
