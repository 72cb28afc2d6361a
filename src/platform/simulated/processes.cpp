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

// The attribute list an extended STARTUPINFO names, as CreateProcessW reads it: empty when it
// names none.
AttributeList attributes_named(DWORD creation_flags, const STARTUPINFOW& info) {
    if ((creation_flags & EXTENDED_STARTUPINFO_PRESENT) == 0 || info.cb != sizeof(STARTUPINFOEXW)) {
        return {};
    }
    const auto* list = reinterpret_cast<const STARTUPINFOEXW*>(&info)->lpAttributeList;
    const auto found = processes().attribute_lists.find(list);
    if (list != nullptr && found == processes().attribute_lists.end()) {
        not_modelled("CreateProcessW with an attribute list that was never initialised");
    }
    return list == nullptr ? AttributeList{} : found->second;
}

constexpr FlagName CREATION_FLAGS[] = {
    {CREATE_SUSPENDED, "CREATE_SUSPENDED"},
    {EXTENDED_STARTUPINFO_PRESENT, "EXTENDED_STARTUPINFO_PRESENT"},
};
constexpr FlagName START_FLAGS[] = {{STARTF_USESTDHANDLES, "STARTF_USESTDHANDLES"}};
constexpr FlagName LIMIT_FLAGS[] = {
    {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, "JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE"}};
constexpr FlagName UI_RESTRICTIONS[] = {
    {JOB_OBJECT_UILIMIT_HANDLES, "JOB_OBJECT_UILIMIT_HANDLES"},
    {JOB_OBJECT_UILIMIT_READCLIPBOARD, "JOB_OBJECT_UILIMIT_READCLIPBOARD"},
    {JOB_OBJECT_UILIMIT_WRITECLIPBOARD, "JOB_OBJECT_UILIMIT_WRITECLIPBOARD"},
    {JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS, "JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS"},
    {JOB_OBJECT_UILIMIT_DISPLAYSETTINGS, "JOB_OBJECT_UILIMIT_DISPLAYSETTINGS"},
    {JOB_OBJECT_UILIMIT_DESKTOP, "JOB_OBJECT_UILIMIT_DESKTOP"},
    {JOB_OBJECT_UILIMIT_EXITWINDOWS, "JOB_OBJECT_UILIMIT_EXITWINDOWS"},
};

// What the child is made with, as the journal shows it: the security capabilities and the handle
// list are read through the attribute list at this call.
std::string creation_details(DWORD creation_flags, BOOL inherit_handles, const STARTUPINFOW& info,
                             const AttributeList& attributes, std::u16string_view line) {
    std::string details = flag_names(creation_flags, CREATION_FLAGS) +
                          " inherit=" + std::to_string(inherit_handles) +
                          " start=" + flag_names(info.dwFlags, START_FLAGS);
    if (const SECURITY_CAPABILITIES* capabilities = attributes.capabilities) {
        details += " capabilities=" + std::to_string(capabilities->CapabilityCount) +
                   " reserved=" + std::to_string(capabilities->Reserved);
    }
    if (attributes.handles != nullptr) {
        details += " handles=" + std::to_string(attributes.handle_count);
    }
    return details + " " + utf8(line);
}

// What of CreateProcessW the simulated Windows models: a command line without an application
// name, no security attributes, the launcher's own environment.
void check_modelled(LPCWSTR application_name, LPCWSTR command_line, bool attributes,
                    LPVOID environment) {
    if (application_name != nullptr) {
        not_modelled("CreateProcessW with an application name: " + utf8(application_name));
    }
    if (command_line == nullptr) {
        not_modelled("CreateProcessW without a command line");
    }
    if (attributes) {
        not_modelled("CreateProcessW with security attributes");
    }
    if (environment != nullptr) {
        not_modelled("CreateProcessW with an environment block");
    }
}

// The error that refuses the handle list or the extended STARTUPINFO, 0 for none. A handle list
// may name only open, inheritable handles.
DWORD list_refusal(DWORD creation_flags, const STARTUPINFOW& info,
                   const AttributeList& attributes) {
    if ((creation_flags & EXTENDED_STARTUPINFO_PRESENT) != 0 && info.cb != sizeof(STARTUPINFOEXW)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::span<const HANDLE> listed(attributes.handles, attributes.handle_count);
    const bool refused = std::ranges::any_of(listed, [](HANDLE handle) {
        const HandleEntry* entry = handle_entry(handle);
        return entry == nullptr || !entry->inheritable;
    });
    return refused ? ERROR_INVALID_PARAMETER : 0;
}

// The child's current directory, kept as a current directory is ("C:\dir", but "C:\"); nothing,
// with the error, when it is none.
std::optional<std::u16string> child_directory(LPCWSTR given, DWORD& error) {
    if (given == nullptr) {
        return current_process().current_directory;
    }
    auto full = full_path_of(given, error);
    if (!full || !is_directory(*full)) {
        error = full ? ERROR_DIRECTORY : error;
        return std::nullopt;
    }
    if (full->size() > 3 && full->ends_with(u'\\')) {
        full->pop_back();
    }
    return full;
}

// The standard handles given are the child's only with STARTF_USESTDHANDLES and when they are
// inherited: inheritance on, the handle inheritable and, with a handle list, listed. Without the
// flag the child's are its console's buffers; a value that is not inherited is no handle of the
// child.
void child_std_handles(const STARTUPINFOW& info, BOOL inherit_handles,
                       const AttributeList& attributes, HANDLE (&handles)[3]) {
    handles[0] = info.hStdInput;
    handles[1] = info.hStdOutput;
    handles[2] = info.hStdError;
    if ((info.dwFlags & STARTF_USESTDHANDLES) == 0) {
        const auto console = std::make_shared<Stream>(sim::StreamKind::Console);
        for (auto& handle : handles) {
            handle = add_handle(console);
            world().handles[reinterpret_cast<std::uintptr_t>(handle)].owner = 0; // the console's
        }
        return;
    }
    const std::span<const HANDLE> listed(attributes.handles, attributes.handle_count);
    for (auto& handle : handles) {
        const HandleEntry* entry = handle_entry(handle);
        if (inherit_handles == FALSE || entry == nullptr || !entry->inheritable ||
            (attributes.handles != nullptr && std::ranges::find(listed, handle) == listed.end())) {
            handle = nullptr;
        }
    }
}

// The child's handles for its creator, and its start unless it is created suspended.
void hand_over(const std::shared_ptr<Child>& child, DWORD creation_flags,
               PROCESS_INFORMATION& information) {
    information = PROCESS_INFORMATION{};
    information.hProcess = add_handle(std::make_shared<ProcessObject>(child));
    information.hThread = add_handle(std::make_shared<ThreadObject>(child));
    information.dwProcessId = child->pid;
    information.dwThreadId = child->pid + 1;
    if ((creation_flags & CREATE_SUSPENDED) != 0) {
        child->suspend_count = 1;
    } else {
        start_running(child);
    }
}

// The limits SetInformationJobObject is given, as the journal shows them: the limit flags or the
// UI restrictions, "+more" when another limit is set too, "?" for any other class or size.
std::string job_limits_text(JOBOBJECTINFOCLASS info_class, const void* info, DWORD info_length) {
    if (info_class == JobObjectExtendedLimitInformation &&
        info_length == sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION)) {
        const auto* given = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info);
        // Every other byte must be zero: no other limit is asked for.
        const auto* bytes = static_cast<const unsigned char*>(info);
        const std::size_t flags_at =
            offsetof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION, BasicLimitInformation.LimitFlags);
        for (std::size_t i = 0; i < info_length; ++i) {
            if (bytes[i] != 0 && (i < flags_at || i >= flags_at + sizeof(DWORD))) {
                return flag_names(given->BasicLimitInformation.LimitFlags, LIMIT_FLAGS) + "+more";
            }
        }
        return flag_names(given->BasicLimitInformation.LimitFlags, LIMIT_FLAGS);
    }
    if (info_class == JobObjectBasicUIRestrictions &&
        info_length == sizeof(JOBOBJECT_BASIC_UI_RESTRICTIONS)) {
        // What the restrictions forbid is not modelled: no simulated program uses a user
        // interface.
        return flag_names(
            static_cast<const JOBOBJECT_BASIC_UI_RESTRICTIONS*>(info)->UIRestrictionsClass,
            UI_RESTRICTIONS);
    }
    return "?";
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
    const Call call("InitializeProcThreadAttributeList",
                    std::string(list == nullptr ? "null" : "buffer") + " " +
                        std::to_string(attribute_count) + " " + std::to_string(*size));
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (attribute_count == 0) {
        not_modelled("InitializeProcThreadAttributeList for no attribute");
    }
    if (flags != 0) {
        set_last_error(ERROR_INVALID_PARAMETER); // reserved, zero
        return FALSE;
    }
    const SIZE_T needed = 16 + 32 * static_cast<SIZE_T>(attribute_count);
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
    const Call call("UpdateProcThreadAttribute", hex(attribute) + " " + std::to_string(size));
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto found = processes().attribute_lists.find(list);
    if (found == processes().attribute_lists.end()) {
        not_modelled("UpdateProcThreadAttribute on a list that was never initialised");
    }
    if (flags != 0 || previous_value != nullptr || return_size != nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER); // reserved: zero and null
        return FALSE;
    }
    AttributeList& attributes = found->second;
    if (attributes.count == attributes.capacity) {
        set_last_error(ERROR_GEN_FAILURE); // more attributes than the list was made for
        return FALSE;
    }
    if (attribute == PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES &&
        size == sizeof(SECURITY_CAPABILITIES) && attributes.capabilities == nullptr) {
        attributes.capabilities = static_cast<const SECURITY_CAPABILITIES*>(value);
    } else if (attribute == PROC_THREAD_ATTRIBUTE_HANDLE_LIST && size != 0 &&
               size % sizeof(HANDLE) == 0 && attributes.handles == nullptr) {
        attributes.handles = static_cast<const HANDLE*>(value);
        attributes.handle_count = size / sizeof(HANDLE);
    } else {
        not_modelled("UpdateProcThreadAttribute " + hex(attribute) + " of " + std::to_string(size) +
                     " bytes, or given twice");
    }
    ++attributes.count;
    return TRUE;
}

void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) {
    const Call call("DeleteProcThreadAttributeList");
    processes().attribute_lists.erase(list);
}

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
    const std::u16string line = command_line == nullptr ? u"" : std::u16string(command_line);
    AttributeList attributes;
    const Call call("CreateProcessW", [&] {
        attributes = attributes_named(creation_flags, *startup_info);
        return Line{
            creation_details(creation_flags, inherit_handles, *startup_info, attributes, line),
            program_token(line)};
    });
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    check_modelled(application_name, command_line,
                   process_attributes != nullptr || thread_attributes != nullptr, environment);
    DWORD error = list_refusal(creation_flags, *startup_info, attributes);
    const auto directory = error == 0 ? child_directory(current_directory, error) : std::nullopt;
    const Program* program = directory ? find_program(program_token(line)) : nullptr;
    if (!directory || program == nullptr) {
        set_last_error(directory ? ERROR_FILE_NOT_FOUND : error);
        return FALSE;
    }
    std::string sid;
    if (attributes.capabilities != nullptr) {
        const auto live = live_sid_text(attributes.capabilities->AppContainerSid);
        if (!live) {
            not_modelled("CreateProcessW with an AppContainer SID that was freed or never made");
        }
        sid = *live;
    }
    HANDLE std_handles[3];
    child_std_handles(*startup_info, inherit_handles, attributes, std_handles);
    auto child = spawn(line, current_process().environment, *directory, std_handles);
    child->program = *program;
    child->app_container_sid = sid;
    hand_over(child, creation_flags, *process_information);
    return TRUE;
}

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name) {
    const Call call("CreateJobObjectW");
    if (const auto failed = call.failed<HANDLE>()) {
        return *failed;
    }
    if (attributes != nullptr || name != nullptr) {
        not_modelled("CreateJobObjectW with security attributes or a name");
    }
    auto job = std::make_shared<JobObject>();
    processes().jobs.push_back(job);
    return add_handle(job);
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS info_class, LPVOID info,
                             DWORD info_length) {
    const std::string limits = job_limits_text(info_class, info, info_length);
    const Call call("SetInformationJobObject",
                    std::to_string(info_class) + " " + std::to_string(info_length) + " " + limits);
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = fail_unless<JobObject>(job);
    if (!object) {
        return FALSE;
    }
    if (limits == "?") {
        not_modelled("SetInformationJobObject of class " + std::to_string(info_class) + " with " +
                     std::to_string(info_length) + " bytes");
    }
    if (info_class == JobObjectExtendedLimitInformation) {
        object->limit_flags = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info)
                                  ->BasicLimitInformation.LimitFlags;
    }
    return TRUE;
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
    const Call call("AssignProcessToJobObject");
    if (const auto failed = call.failed<BOOL>()) {
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

BOOL TerminateJobObject(HANDLE job, UINT exit_code) {
    const Call call("TerminateJobObject", hex(exit_code));
    if (const auto failed = call.failed<BOOL>()) {
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
    const Call call("ResumeThread");
    if (const auto failed = call.failed<DWORD>()) {
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
    const Call call("GetExitCodeProcess");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = fail_unless<ProcessObject>(process);
    if (!object) {
        return FALSE;
    }
    *exit_code = object->child->exit_code;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    const Call call("TerminateProcess", std::to_string(exit_code));
    if (const auto failed = call.failed<BOOL>()) {
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
