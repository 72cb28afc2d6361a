#include "run/launch.hpp"

#include "common/text.hpp"
#include "common/trace.hpp"
#include "common/windows_error.hpp"

#include <algorithm>
#include <span>

// The x64 layouts these calls are given by address and size; checked against whichever headers
// this build has, the platform's or our simulated ones.
static_assert(sizeof(SECURITY_CAPABILITIES) == 24);
static_assert(sizeof(STARTUPINFOEXW) == 112);
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144);
static_assert(sizeof(JOBOBJECT_BASIC_UI_RESTRICTIONS) == 4);

namespace {

// The exit code of a child that is ended because it could not be put into the job.
constexpr UINT UNCONTAINED_CHILD_EXIT_CODE = 1;
// The exit code of the job's processes at the time limit.
constexpr UINT TIMED_OUT_EXIT_CODE = ERROR_TIMEOUT;

// What a console program never needs and a hostile one could turn against the user's session:
// the clipboard, system parameters and display settings, logging off or shutting down, other
// desktops, and the USER handles (windows among them) of processes outside the job.
constexpr DWORD SANDBOX_UI_RESTRICTIONS =
    JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_WRITECLIPBOARD |
    JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
    JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_HANDLES;

// The attribute list in a buffer of the size the platform asks for. The list itself is deleted
// right after process creation (or a failed update); the buffer lives until the launch ends.
class ProcThreadAttributeList {
public:
    ProcThreadAttributeList() = default;
    ProcThreadAttributeList(const ProcThreadAttributeList&) = delete;
    ProcThreadAttributeList& operator=(const ProcThreadAttributeList&) = delete;
    ~ProcThreadAttributeList() { remove(); }

    // The security capabilities and, unless `inherited` is empty, the handle list. Both are kept
    // by address, so `capabilities` and `inherited` must stay in place and unchanged until the
    // process is created.
    [[nodiscard]] Result<void> initialise(SECURITY_CAPABILITIES& capabilities,
                                          std::span<HANDLE> inherited) {
        const DWORD count = inherited.empty() ? 1 : 2;
        SIZE_T size = 0;
        // The probe fails by design (insufficient buffer) and only reports the size.
        InitializeProcThreadAttributeList(nullptr, count, 0, &size);
        if (size == 0) {
            return std::unexpected(win32_failure("cannot size process attribute list"));
        }
        buffer_.assign(size, 0);
        if (!InitializeProcThreadAttributeList(list(), count, 0, &size)) {
            return std::unexpected(win32_failure("cannot initialize process attribute list"));
        }
        initialised_ = true;
        if (!update(PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES, &capabilities,
                    sizeof(capabilities))) {
            return std::unexpected(win32_failure("cannot apply AppContainer process attribute"));
        }
        if (!inherited.empty() &&
            !update(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(), inherited.size_bytes())) {
            return std::unexpected(win32_failure("cannot apply handle list process attribute"));
        }
        return {};
    }

    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    }

    // Keeps the last-error value, so a failure read after it still names the failed call.
    void remove() {
        if (initialised_) {
            const LastErrorKept kept;
            DeleteProcThreadAttributeList(list());
            initialised_ = false;
        }
    }

private:
    // A failed update deletes the list, keeping the update's last-error value.
    bool update(DWORD_PTR attribute, PVOID value, SIZE_T size) {
        if (UpdateProcThreadAttribute(list(), 0, attribute, value, size,
                                      nullptr, // no previous value
                                      nullptr)) {
            return true;
        }
        remove();
        return false;
    }

    std::vector<BYTE> buffer_;
    bool initialised_ = false;
};

// The launcher's valid standard handles, each once (output and error are often one handle), null
// and INVALID_HANDLE_VALUE left out, every one made inheritable: they are the child's only
// handles. A handle list may name only inheritable handles, and the launcher's standard handles
// need not be (a host may hand them over by other means than inheritance).
[[nodiscard]] Result<std::vector<HANDLE>>
inheritable_standard_handles(const HANDLE (&standard)[3]) {
    std::vector<HANDLE> handles;
    for (const HANDLE handle : standard) {
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
            std::ranges::find(handles, handle) != handles.end()) {
            continue;
        }
        if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            return std::unexpected(win32_failure("cannot make standard handle inheritable"));
        }
        handles.push_back(handle);
    }
    return handles;
}

// The created child's handles and, from its assignment on, its job: one owner, which closes
// the thread, the process and the job in that order on every way out. Until the child is inside
// the kill-on-close job nothing else would ever end it: a suspended process stays in the system
// for good, keeping its image file open. So a child closed before it is contained is terminated
// first.
class CreatedChild {
public:
    CreatedChild(const PROCESS_INFORMATION& information, StopSignal& stop)
        : stop_(stop), process_(information.hProcess), thread_(information.hThread),
          pid_(information.dwProcessId) {}
    CreatedChild(const CreatedChild&) = delete;
    CreatedChild& operator=(const CreatedChild&) = delete;
    ~CreatedChild() { close(); }

    HANDLE process() const { return process_.get(); }
    HANDLE thread() const { return thread_.get(); }
    DWORD pid() const { return pid_; }
    void close_thread() { thread_.reset(); }

    // Ends every process of the job. A failure is not examined: closing the job, which follows on
    // every way out, ends them all the same.
    void end_job(UINT exit_code) const { TerminateJobObject(job_.get(), exit_code); }

    // Puts the child into `job`, which it keeps whether or not the assignment succeeds. Once the
    // child is in it, the job is published to the stop signal until it is closed.
    [[nodiscard]] Result<void> assign_to_job(UniqueHandle job) {
        job_ = std::move(job);
        if (!AssignProcessToJobObject(job_.get(), process_.get())) {
            return std::unexpected(win32_failure("cannot assign AppContainer process to job"));
        }
        // From here on the job ends the child when its handle closes.
        contained_ = true;
        stop_.publish_job(job_.get());
        return {};
    }

private:
    void close() {
        if (process_ && !contained_) {
            const LastErrorKept kept;
            TerminateProcess(process_.get(), UNCONTAINED_CHILD_EXIT_CODE);
        }
        thread_.reset();
        process_.reset();
        if (contained_) {
            // Withdrawn first, so the console handler never ends a closed job.
            stop_.withdraw_job();
        }
        job_.reset();
    }

    StopSignal& stop_;
    UniqueHandle process_;
    UniqueHandle thread_;
    UniqueHandle job_;
    DWORD pid_;
    bool contained_ = false;
};

// The milliseconds left of `limit` since `resumed_at` (GetTickCount64), or INFINITE without one.
DWORD time_left(std::optional<DWORD> limit, ULONGLONG resumed_at) {
    if (!limit) {
        return INFINITE;
    }
    const ULONGLONG spent = GetTickCount64() - resumed_at;
    return spent >= *limit ? 0 : static_cast<DWORD>(*limit - spent);
}

// One wait on the child, the host's stop event if there is one (WAIT_OBJECT_0 + 1), and the time
// left (WAIT_TIMEOUT). The child comes first: one that has exited is never reported as stopped.
DWORD wait_for_child(HANDLE process, HANDLE host_event, DWORD milliseconds) {
    if (host_event == nullptr) {
        return WaitForSingleObject(process, milliseconds);
    }
    const HANDLE objects[] = {process, host_event};
    return WaitForMultipleObjects(2, objects, FALSE, milliseconds);
}

// The child, created suspended in the AppContainer with the standard handles alone to inherit.
[[nodiscard]] Result<PROCESS_INFORMATION> create_suspended_child(const ChildLaunch& launch) {
    const HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                                GetStdHandle(STD_ERROR_HANDLE)};
    // Handle inheritance lets every inheritable handle of the launcher into the child, past
    // every access check of the AppContainer (its caller's process, files outside the mounts,
    // pipes), unless a handle list names the few that may cross: the standard handles alone.
    auto inherited = inheritable_standard_handles(standard);
    if (!inherited) {
        return std::unexpected(inherited.error());
    }

    SECURITY_CAPABILITIES capabilities{};
    capabilities.AppContainerSid = launch.app_container_sid;
    capabilities.Capabilities = nullptr; // none: no network access
    capabilities.CapabilityCount = 0;
    capabilities.Reserved = 0;
    ProcThreadAttributeList attributes;
    if (auto made = attributes.initialise(capabilities, *inherited); !made) {
        return std::unexpected(made.error());
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    // Kept when none is valid: the child then has none, like the launcher, rather than whatever
    // the system would choose for it.
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard[0];
    startup.StartupInfo.hStdOutput = standard[1];
    startup.StartupInfo.hStdError = standard[2];
    startup.lpAttributeList = attributes.list();

    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    WideString wide_command_line = to_wide(launch.command_line);
    const WideString wide_directory = to_wide(launch.current_directory);

    trace_stage("create-process");
    PROCESS_INFORMATION information{};
    // With no standard handle to list there is no list, and inheritance stays off so that
    // nothing crosses then either.
    const BOOL inherit = inherited->empty() ? FALSE : TRUE;
    const BOOL created = CreateProcessW(nullptr, // the program is the command line's first token
                                        wide_command_line.data(),
                                        nullptr, // process security attributes
                                        nullptr, // thread security attributes
                                        inherit, EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED,
                                        nullptr, // the launcher's own environment
                                        wide_directory.c_str(), &startup.StartupInfo, &information);
    attributes.remove();
    if (!created) {
        SandboxFailure failed = win32_failure("cannot create AppContainer process");
        failed.program = launch.program;
        return std::unexpected(failed);
    }
    return information;
}

// Waits for the resumed child until it exits, its time runs out or the host stops it.
[[nodiscard]] Result<ChildEnd> wait_for_end(const CreatedChild& child, const ChildLaunch& launch,
                                            const StopSignal& stop, ULONGLONG resumed_at) {
    trace_stage("wait");
    const DWORD waited = wait_for_child(child.process(), stop.host_event(),
                                        time_left(launch.time_limit, resumed_at));
    trace_stage("settled");
    if (waited == WAIT_TIMEOUT) {
        child.end_job(TIMED_OUT_EXIT_CODE);
        return ChildEnd{.kind = ChildEnd::Kind::TimedOut};
    }
    if (waited == WAIT_OBJECT_0 + 1) {
        child.end_job(STATUS_CONTROL_C_EXIT);
        return ChildEnd{.kind = ChildEnd::Kind::Stopped};
    }

    // A failed wait shows in the exit code read here: a running child reports STILL_ACTIVE.
    DWORD exit_code = FALLBACK_EXIT_CODE;
    if (!GetExitCodeProcess(child.process(), &exit_code)) {
        return std::unexpected(win32_failure("cannot read AppContainer exit code"));
    }
    return ChildEnd{.exit_code = exit_code};
}

} // namespace

Result<UniqueHandle> create_sandbox_job() {
    UniqueHandle job(CreateJobObjectW(nullptr,   // no security attributes: not inheritable
                                      nullptr)); // unnamed
    if (!job) {
        return std::unexpected(win32_failure("cannot create sandbox job"));
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return std::unexpected(win32_failure("cannot configure sandbox job"));
    }
    JOBOBJECT_BASIC_UI_RESTRICTIONS restrictions{};
    restrictions.UIRestrictionsClass = SANDBOX_UI_RESTRICTIONS;
    if (!SetInformationJobObject(job.get(), JobObjectBasicUIRestrictions, &restrictions,
                                 sizeof(restrictions))) {
        return std::unexpected(win32_failure("cannot restrict sandbox job user interface"));
    }
    return job;
}

Result<ChildEnd> launch_sandbox_child(const ChildLaunch& launch, StopSignal& stop) {
    const auto information = create_suspended_child(launch);
    if (!information) {
        return std::unexpected(information.error());
    }
    CreatedChild child(*information, stop);
    trace_stage("assign-job");
    auto job = create_sandbox_job();
    if (!job) {
        return std::unexpected(job.error());
    }
    if (auto assigned = child.assign_to_job(std::move(*job)); !assigned) {
        return std::unexpected(assigned.error());
    }
    // A child not yet resumed has seen no console event; the job ends it.
    if (stop.raised()) {
        return interrupted();
    }

    trace_stage("resume");
    const DWORD resumed = ResumeThread(child.thread());
    // The time limit counts from here.
    const ULONGLONG resumed_at = launch.time_limit ? GetTickCount64() : 0;
    child.close_thread();
    if (resumed == static_cast<DWORD>(-1)) {
        return std::unexpected(win32_failure("cannot resume AppContainer process"));
    }
    // A console event that came after the last look and before the resume reached no one: the
    // child, still suspended, was not yet running to get it. It ends the child as it would have.
    if (stop.raised_by_console()) {
        child.end_job(STATUS_CONTROL_C_EXIT);
    }
    if (launch.started) {
        if (auto told = launch.started(child.pid()); !told) {
            return std::unexpected(told.error());
        }
    }

    return wait_for_end(child, launch, stop, resumed_at);
}
