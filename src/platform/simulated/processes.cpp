// Child processes, their threads and jobs, and the attribute lists they are created with. A child
// runs a program that a test registered at a path, on a thread of its own.
#include "platform/simulated/world.hpp"

#include <algorithm>
#include <cstddef>
#include <span>
#include <thread>

namespace sim::detail {
namespace {

struct JobObject;

struct Child {
    DWORD pid = 0;
    Program program; // none: a descendant that runs until something ends it
    std::string app_container_sid;
    DWORD suspend_count = 0;
    bool started = false;
    bool ignores_console_events = false;
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
    std::weak_ptr<JobObject> job;
};

// The values are kept by address, as Windows keeps them, and read when a process is created.
struct AttributeList {
    DWORD capacity = 0;
    DWORD count = 0;
    const SECURITY_CAPABILITIES* capabilities = nullptr;
    const HANDLE* handles = nullptr; // the handle list: only these are inherited
    std::size_t handle_count = 0;
};

struct Processes {
    std::map<std::u16string, Program> programs; // by folded final path
    std::map<DWORD, std::shared_ptr<Child>> children;
    std::map<const void*, AttributeList> attribute_lists; // initialised, not yet deleted
    std::vector<std::weak_ptr<JobObject>> jobs;
    std::vector<std::thread> threads;

    Processes() = default;
    Processes(const Processes&) = delete;
    Processes& operator=(Processes&&) = default;
    ~Processes() {
        for (auto& thread : threads) {
            thread.join();
        }
    }
};

Processes& processes() {
    static Processes instance;
    return instance;
}

void end_process(Child& child, DWORD exit_code) {
    if (child.ended) {
        return;
    }
    child.ended = true;
    child.exit_code = exit_code;
    world_signal().notify_all();
}

struct JobObject : Object {
    DWORD limit_flags = 0;
    const char* kind() const override { return "job"; }
    void last_handle_closed() override {
        if ((limit_flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0) {
            end_processes(0);
        }
    }
    void end_processes(DWORD exit_code) {
        for (const auto& [pid, child] : processes().children) {
            if (child->job.lock().get() == this) {
                end_process(*child, exit_code);
            }
        }
    }
};

struct ProcessObject : Waitable {
    std::shared_ptr<Child> child;
    explicit ProcessObject(std::shared_ptr<Child> c) : child(std::move(c)) {}
    const char* kind() const override { return "process"; }
    bool signalled() const override { return child->ended; }
};

struct ThreadObject : Object {
    std::shared_ptr<Child> child;
    explicit ThreadObject(std::shared_ptr<Child> c) : child(std::move(c)) {}
    const char* kind() const override { return "thread"; }
};

// The C runtime's argv, written independently of the system's own splitter so that each checks
// the other.
std::vector<std::string> c_runtime_argv(std::u16string_view line) {
    std::vector<std::string> argv;
    std::u16string current;
    std::size_t i = 0;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
        if (line[i] == u'"') {
            quoted = !quoted;
        } else {
            current += line[i];
        }
        ++i;
    }
    argv.push_back(utf8(current));
    quoted = false;
    bool in_argument = false;
    current.clear();
    while (i <= line.size()) {
        const char16_t c = i < line.size() ? line[i] : u'\0';
        if (c == u'\0' || (!quoted && (c == u' ' || c == u'\t'))) {
            if (in_argument) {
                argv.push_back(utf8(current));
            }
            in_argument = false;
            current.clear();
            ++i;
            continue;
        }
        in_argument = true;
        if (c == u'\\') {
            const std::size_t run_end = line.find_first_not_of(u'\\', i);
            const std::size_t run =
                (run_end == std::u16string_view::npos ? line.size() : run_end) - i;
            const bool before_quote = run_end != std::u16string_view::npos && line[run_end] == u'"';
            current.append(before_quote ? run / 2 : run, u'\\');
            i += run;
            if (before_quote && run % 2 == 1) {
                current += u'"';
                ++i;
            }
        } else if (c == u'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    return argv;
}

// The program of a command line: its first token, quoted up to the next quote or bare up to a
// space or tab.
std::u16string program_token(std::u16string_view line) {
    if (line.starts_with(u'"')) {
        const auto close = line.find(u'"', 1);
        return std::u16string(
            line.substr(1, close == std::u16string_view::npos ? close : close - 1));
    }
    return std::u16string(line.substr(0, line.find_first_of(u" \t")));
}

// Windows' search for a program without an application name: ".exe" added to a name without
// extension; a name with a path is taken as it is, a bare one is looked for in the current
// directory, System32, the 16-bit system directory, the Windows directory, then PATH. (The
// launcher's own directory, searched first on Windows, is not modelled.)
const Program* find_program(std::u16string token) {
    const auto name_start = token.find_last_of(u"\\/:");
    const std::u16string_view name =
        std::u16string_view(token).substr(name_start == std::u16string::npos ? 0 : name_start + 1);
    if (name.find(u'.') == std::u16string_view::npos) {
        token += u".exe";
    }
    std::vector<std::u16string> candidates;
    if (name_start != std::u16string::npos) {
        candidates.push_back(token);
    } else {
        candidates = {current_process().current_directory, u"C:\\Windows\\System32",
                      u"C:\\Windows\\System", u"C:\\Windows"};
        for (const auto& entry : current_process().environment) {
            if (fold_case(entry.substr(0, 5)) == u"PATH=") {
                std::u16string_view rest = std::u16string_view(entry).substr(5);
                while (!rest.empty()) {
                    const auto end = std::min(rest.find(u';'), rest.size());
                    candidates.emplace_back(rest.substr(0, end));
                    rest.remove_prefix(std::min(end + 1, rest.size()));
                }
            }
        }
        for (auto& directory : candidates) {
            directory += (directory.ends_with(u'\\') ? u"" : u"\\") + token;
        }
    }
    for (const auto& candidate : candidates) {
        if (const auto final_path = final_file_path(candidate)) {
            const auto found = processes().programs.find(fold_case(*final_path));
            if (found != processes().programs.end()) {
                return &found->second;
            }
        }
    }
    return nullptr;
}

ChildView view_of(const Child& child) {
    const Process& process = *world().processes.at(child.pid);
    ChildView view;
    view.pid = child.pid;
    view.argv = c_runtime_argv(process.command_line);
    view.current_directory = utf8(process.current_directory);
    view.app_container_sid = child.app_container_sid;
    for (int i = 0; i < 3; ++i) {
        view.std_handles[i] = process.std_handles[i];
    }
    const auto job = child.job.lock();
    view.in_kill_on_close_job = job && (job->limit_flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
    return view;
}

void start_running(const std::shared_ptr<Child>& child) {
    child->started = true;
    if (!child->program) {
        return;
    }
    // As on Windows, the child works out its own argv and environment, on its own thread.
    processes().threads.emplace_back([child, program = child->program] {
        sim::ChildView view;
        {
            Guard guard;
            // Ended before its first instruction, it runs none of its program.
            if (child->ended) {
                return;
            }
            view = view_of(*child);
        }
        DWORD exit_code = 0;
        {
            ProcessScope scope(child->pid);
            exit_code = program(view);
        }
        Guard guard;
        end_process(*child, exit_code);
    });
}

// A new process as a child of the current one: in its job, with the given settings.
std::shared_ptr<Child> spawn(std::u16string command_line, std::vector<std::u16string> environment,
                             std::u16string current_directory, const HANDLE std_handles[3]) {
    auto& w = world();
    auto process = std::make_shared<Process>();
    process->pid = w.next_pid++;
    process->command_line = std::move(command_line);
    process->environment = std::move(environment);
    process->current_directory = std::move(current_directory);
    for (int i = 0; i < 3; ++i) {
        process->std_handles[i] = std_handles[i];
        process->std_streams[i] = object_as<Stream>(std_handles[i]);
    }
    w.processes[process->pid] = process;
    auto child = std::make_shared<Child>();
    child->pid = process->pid;
    const auto parent = processes().children.find(current_pid());
    if (parent != processes().children.end()) {
        child->job = parent->second->job;
    }
    processes().children[child->pid] = child;
    return child;
}

std::vector<std::u16string> environment_from_block(const WCHAR* block) {
    std::vector<std::u16string> entries;
    for (const WCHAR* entry = block; *entry != 0; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    return entries;
}

template <class T> std::shared_ptr<T> fail_unless(HANDLE handle) {
    auto object = object_as<T>(handle);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
    }
    return object;
}

} // namespace

void console_event_to_processes() {
    for (const auto& [pid, child] : processes().children) {
        if (child->started && !child->ignores_console_events) {
            end_process(*child, STATUS_CONTROL_C_EXIT);
        }
    }
}

void reset_processes() {
    // Child programs still running call back into the world: let them finish with the lock free
    // (sim::reset holds it once).
    while (!processes().threads.empty()) {
        auto threads = std::move(processes().threads);
        processes().threads.clear();
        world_lock().unlock();
        for (auto& thread : threads) {
            thread.join();
        }
        world_lock().lock();
    }
    processes() = Processes{};
}

} // namespace sim::detail

using namespace sim::detail;
using sim::Program;

BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count,
                                       DWORD flags, PSIZE_T size) {
    Guard guard;
    record("InitializeProcThreadAttributeList " + std::string(list == nullptr ? "null" : "buffer") +
           " " + std::to_string(attribute_count) + " " + std::to_string(*size));
    if (const auto failed = injected<BOOL>("InitializeProcThreadAttributeList")) {
        return *failed;
    }
    const SIZE_T needed = 16 + 32 * static_cast<SIZE_T>(attribute_count);
    if (flags != 0 || attribute_count == 0) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (list == nullptr || *size < needed) {
        *size = needed;
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    processes().attribute_lists[list] = AttributeList{.capacity = attribute_count};
    return TRUE;
}

BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                               PVOID value, SIZE_T size, PVOID previous_value,
                               PSIZE_T return_size) {
    Guard guard;
    record("UpdateProcThreadAttribute " + hex(attribute) + " " + std::to_string(size));
    if (const auto failed = injected<BOOL>("UpdateProcThreadAttribute")) {
        return *failed;
    }
    const auto found = processes().attribute_lists.find(list);
    if (found == processes().attribute_lists.end() || flags != 0 || previous_value != nullptr ||
        return_size != nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AttributeList& attributes = found->second;
    if (attributes.count == attributes.capacity) {
        set_last_error(ERROR_GEN_FAILURE); // more attributes than the list was made for
        return FALSE;
    }
    if (attribute == PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES) {
        if (size != sizeof(SECURITY_CAPABILITIES) || attributes.capabilities != nullptr) {
            set_last_error(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        attributes.capabilities = static_cast<const SECURITY_CAPABILITIES*>(value);
    } else if (attribute == PROC_THREAD_ATTRIBUTE_HANDLE_LIST) {
        if (size == 0 || size % sizeof(HANDLE) != 0 || attributes.handles != nullptr) {
            set_last_error(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        attributes.handles = static_cast<const HANDLE*>(value);
        attributes.handle_count = size / sizeof(HANDLE);
    } else {
        set_last_error(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    ++attributes.count;
    return TRUE;
}

void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) {
    Guard guard;
    record("DeleteProcThreadAttributeList");
    processes().attribute_lists.erase(list);
}

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES /*process_attributes*/,
                    LPSECURITY_ATTRIBUTES /*thread_attributes*/, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
    Guard guard;
    const std::u16string line = command_line == nullptr ? u"" : std::u16string(command_line);
    const std::u16string token = program_token(line);
    const bool extended = (creation_flags & EXTENDED_STARTUPINFO_PRESENT) != 0;
    const bool extended_size = startup_info->cb == sizeof(STARTUPINFOEXW);
    const auto* extended_info = reinterpret_cast<const STARTUPINFOEXW*>(startup_info);
    const auto list = extended && extended_size
                          ? processes().attribute_lists.find(extended_info->lpAttributeList)
                          : processes().attribute_lists.end();
    const AttributeList attributes =
        list == processes().attribute_lists.end() ? AttributeList{} : list->second;
    const SECURITY_CAPABILITIES* capabilities = attributes.capabilities;
    const std::span<const HANDLE> listed(attributes.handles, attributes.handle_count);
    // What the child is made with, as the journal shows it: the security capabilities and the
    // handle list are read through the attribute list at this call.
    record("CreateProcessW " + hex(creation_flags) + " inherit=" + std::to_string(inherit_handles) +
           " start=" + hex(startup_info->dwFlags) +
           (capabilities == nullptr
                ? std::string()
                : " capabilities=" + std::to_string(capabilities->CapabilityCount) +
                      " reserved=" + std::to_string(capabilities->Reserved)) +
           (attributes.handles == nullptr ? std::string()
                                          : " handles=" + std::to_string(listed.size())) +
           " " + utf8(line));
    if (const auto failed = injected<BOOL>("CreateProcessW", token)) {
        return *failed;
    }
    if (application_name != nullptr || command_line == nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER); // not modelled
        return FALSE;
    }
    if (extended && (!extended_size || (extended_info->lpAttributeList != nullptr &&
                                        list == processes().attribute_lists.end()))) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A handle list may name only open, inheritable handles.
    if (std::ranges::any_of(listed, [](HANDLE handle) {
            const HandleEntry* entry = handle_entry(handle);
            return entry == nullptr || !entry->inheritable;
        })) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Process& launcher = current_process();
    std::u16string directory = launcher.current_directory;
    if (current_directory != nullptr) {
        DWORD error = 0;
        auto full = full_path_of(current_directory, error);
        if (!full || !is_directory(*full)) {
            set_last_error(full ? ERROR_DIRECTORY : error);
            return FALSE;
        }
        directory = *full;
        if (directory.size() > 3 && directory.ends_with(u'\\')) {
            directory.pop_back(); // as a current directory is kept: "C:\dir", but "C:\"
        }
    }
    const Program* program = find_program(token);
    if (program == nullptr) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::optional<std::string> sid;
    if (capabilities != nullptr) {
        sid = live_sid_text(capabilities->AppContainerSid);
        if (!sid) {
            set_last_error(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    // The standard handles given are the child's only with STARTF_USESTDHANDLES and when they are
    // inherited: inheritance on, the handle inheritable and, with a handle list, listed. Without
    // the flag the child's are its console's buffers; a value that is not inherited is no handle
    // of the child.
    HANDLE std_handles[3] = {startup_info->hStdInput, startup_info->hStdOutput,
                             startup_info->hStdError};
    if ((startup_info->dwFlags & STARTF_USESTDHANDLES) == 0) {
        const auto console = std::make_shared<Stream>(sim::StreamKind::Console);
        for (auto& handle : std_handles) {
            handle = add_handle(console);
            world().handles[reinterpret_cast<std::uintptr_t>(handle)].owner = 0; // the console's
        }
    } else {
        for (auto& handle : std_handles) {
            const HandleEntry* entry = handle_entry(handle);
            if (inherit_handles == FALSE || entry == nullptr || !entry->inheritable ||
                (attributes.handles != nullptr &&
                 std::ranges::find(listed, handle) == listed.end())) {
                handle = nullptr;
            }
        }
    }
    auto child = spawn(line,
                       environment == nullptr
                           ? launcher.environment
                           : environment_from_block(static_cast<const WCHAR*>(environment)),
                       directory, std_handles);
    child->program = *program;
    if (sid) {
        child->app_container_sid = *sid;
    }
    *process_information = PROCESS_INFORMATION{};
    process_information->hProcess = add_handle(std::make_shared<ProcessObject>(child));
    process_information->hThread = add_handle(std::make_shared<ThreadObject>(child));
    process_information->dwProcessId = child->pid;
    process_information->dwThreadId = child->pid + 1;
    if ((creation_flags & CREATE_SUSPENDED) != 0) {
        child->suspend_count = 1;
    } else {
        start_running(child);
    }
    return TRUE;
}

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name) {
    Guard guard;
    record("CreateJobObjectW");
    if (auto fault = take_fault("CreateJobObjectW")) {
        set_last_error(fault->error);
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fault->result));
    }
    if (attributes != nullptr || name != nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER); // not modelled
        return nullptr;
    }
    auto job = std::make_shared<JobObject>();
    processes().jobs.push_back(job);
    return add_handle(job);
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS info_class, LPVOID info,
                             DWORD info_length) {
    Guard guard;
    std::string limits = "?";
    if (info_class == JobObjectExtendedLimitInformation &&
        info_length == sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION)) {
        const auto* given = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info);
        limits = hex(given->BasicLimitInformation.LimitFlags);
        // Every other byte must be zero: no other limit is asked for.
        const auto* bytes = static_cast<const unsigned char*>(info);
        const std::size_t flags_at =
            offsetof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION, BasicLimitInformation.LimitFlags);
        for (std::size_t i = 0; i < info_length; ++i) {
            if (bytes[i] != 0 && (i < flags_at || i >= flags_at + sizeof(DWORD))) {
                limits += "+more";
                break;
            }
        }
    } else if (info_class == JobObjectBasicUIRestrictions &&
               info_length == sizeof(JOBOBJECT_BASIC_UI_RESTRICTIONS)) {
        // What the restrictions forbid is not modelled: no simulated program uses a user
        // interface.
        limits =
            hex(static_cast<const JOBOBJECT_BASIC_UI_RESTRICTIONS*>(info)->UIRestrictionsClass);
    }
    record("SetInformationJobObject " + std::to_string(info_class) + " " +
           std::to_string(info_length) + " " + limits);
    if (const auto failed = injected<BOOL>("SetInformationJobObject")) {
        return *failed;
    }
    const auto object = fail_unless<JobObject>(job);
    if (!object) {
        return FALSE;
    }
    if (limits == "?") {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (info_class == JobObjectExtendedLimitInformation) {
        object->limit_flags = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info)
                                  ->BasicLimitInformation.LimitFlags;
    }
    return TRUE;
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
    Guard guard;
    record("AssignProcessToJobObject");
    if (const auto failed = injected<BOOL>("AssignProcessToJobObject")) {
        return *failed;
    }
    const auto job_object = fail_unless<JobObject>(job);
    const auto process_object = fail_unless<ProcessObject>(process);
    if (!job_object || !process_object) {
        return FALSE;
    }
    if (process_object->child->ended) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    process_object->child->job = job_object;
    return TRUE;
}

DWORD GetCurrentProcessId() {
    return current_pid();
}

BOOL TerminateJobObject(HANDLE job, UINT exit_code) {
    Guard guard;
    record("TerminateJobObject " + hex(exit_code));
    if (const auto failed = injected<BOOL>("TerminateJobObject")) {
        return *failed;
    }
    const auto object = fail_unless<JobObject>(job);
    if (!object) {
        return FALSE;
    }
    object->end_processes(exit_code);
    return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
    Guard guard;
    record("ResumeThread");
    if (const auto failed = injected<DWORD>("ResumeThread")) {
        return *failed;
    }
    const auto object = fail_unless<ThreadObject>(thread);
    if (!object) {
        return static_cast<DWORD>(-1);
    }
    auto& child = object->child;
    const DWORD previous = child->suspend_count;
    if (previous > 0 && --child->suspend_count == 0 && !child->ended) {
        start_running(child);
    }
    return previous;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
    Guard guard;
    record("GetExitCodeProcess");
    if (const auto failed = injected<BOOL>("GetExitCodeProcess")) {
        return *failed;
    }
    const auto object = fail_unless<ProcessObject>(process);
    if (!object) {
        return FALSE;
    }
    *exit_code = object->child->exit_code;
    return TRUE;
}

// The pseudo handle that stands for the calling process; it needs no closing.
HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    Guard guard;
    record("TerminateProcess " + std::to_string(exit_code));
    if (const auto failed = injected<BOOL>("TerminateProcess")) {
        return *failed;
    }
    const auto object = fail_unless<ProcessObject>(process);
    if (!object) {
        return FALSE;
    }
    if (object->child->ended) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    end_process(*object->child, exit_code);
    return TRUE;
}

namespace sim {

void register_program(std::string_view path, Program program) {
    Guard guard;
    make_file(path);
    const auto final_path = final_file_path(utf16(path));
    if (!final_path) {
        throw std::logic_error("sim: cannot register a program at " + std::string(path));
    }
    processes().programs[fold_case(*final_path)] = std::move(program);
}

void ignore_console_events() {
    Guard guard;
    processes().children.at(current_pid())->ignores_console_events = true;
}

Dword start_descendant() {
    Guard guard;
    // A program goes on running on its thread after its process was ended; what it starts then is
    // never started on Windows.
    if (processes().children.at(current_pid())->ended) {
        return 0;
    }
    const Process& parent = current_process();
    auto child =
        spawn(u"descendant.exe", parent.environment, parent.current_directory, parent.std_handles);
    start_running(child);
    return child->pid;
}

void run_until_ended() {
    Guard guard;
    const auto child = processes().children.at(current_pid());
    world_signal().wait(guard.lock(), [&] { return child->ended; });
}

std::vector<Dword> live_processes() {
    Guard guard;
    std::vector<Dword> live;
    for (const auto& [pid, child] : processes().children) {
        if (!child->ended) {
            live.push_back(pid);
        }
    }
    return live;
}

std::size_t live_jobs() {
    Guard guard;
    return static_cast<std::size_t>(
        std::ranges::count_if(processes().jobs, [](const auto& job) { return !job.expired(); }));
}

} // namespace sim
