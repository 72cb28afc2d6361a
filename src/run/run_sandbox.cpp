#include "run/run_sandbox.hpp"

#include "common/trace.hpp"
#include "grants/grant.hpp"
#include "mounts/drive_allocation_lock.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "paths/argument_translation.hpp"
#include "paths/environment_rewrite.hpp"
#include "paths/path_forms.hpp"
#include "paths/program_resolution.hpp"
#include "paths/protected_folders.hpp"
#include "run/app_container.hpp"
#include "run/child_command_line.hpp"
#include "run/launch.hpp"
#include "run/run_report.hpp"

#include <optional>

namespace {

// Refused before the first grant. A scratch directory that can have no record, or a directory on
// a share, which can have no letter, would fail only after both grants, leaving a lasting entry
// (on a drive root, on the whole drive; on a share, carried over the network through its whole
// tree) for a run that can never succeed. A grant on a system folder or on the user's profile
// would open it, for good, to every later process of the profile name.
[[nodiscard]] Result<void> check_mountable(const SandboxRequest& request) {
    if (auto checked = mount_record_path(request.scratch); !checked) {
        return std::unexpected(checked.error());
    }
    for (const WideString* directory : {&request.project, &request.scratch}) {
        if (auto local = check_local_drive_path(*directory); !local) {
            return std::unexpected(local.error());
        }
    }
    return check_unprotected_mounts(request.project, request.scratch);
}

// The project's grant, then the scratch directory's, unless a stop comes between them.
[[nodiscard]] Result<void> grant_both(const SandboxRequest& request, PSID sid,
                                      const StopSignal& stop) {
    trace_stage("grant-project");
    if (auto granted = grant_mount_access(request.project, sid); !granted) {
        return granted;
    }
    if (stop.raised()) {
        return interrupted();
    }
    trace_stage("grant-scratch");
    return grant_mount_access(request.scratch, sid);
}

// The letters and the record of a run, released in reverse: the scratch mapping, the project
// mapping, then the record file.
struct DefinedMounts {
    MountRecord record;
    DriveMapping project;
    DriveMapping scratch;
};

// Under the allocation lock: a killed run's letters on this scratch directory recovered, then
// both letters defined and the record written. On a failure the letters and the lock go before
// the record.
[[nodiscard]] Result<DefinedMounts> define_mounts(const SandboxRequest& request,
                                                  const StopSignal& stop, RunReport* report) {
    // Once this run has written its record, the record is deleted on every way out.
    auto record = MountRecord::for_scratch(request.scratch);
    if (!record) {
        return std::unexpected(record.error());
    }
    auto lock = DriveAllocationLock::acquire(stop.events());
    if (!lock) {
        return std::unexpected(lock.error());
    }
    // Before the letters are chosen, so that those of a killed run on this scratch directory are
    // free again. The recovery belongs in the host's account of the run.
    const auto recovery = record->recover();
    if (!recovery) {
        return std::unexpected(recovery.error());
    }
    if (const auto& recovered = *recovery; report != nullptr && recovered) {
        if (auto written = report->write(recovered_line(*recovered)); !written) {
            return std::unexpected(written.error());
        }
    }
    auto project = allocate_drive_mapping(request.project);
    if (!project) {
        return std::unexpected(project.error());
    }
    auto scratch = allocate_drive_mapping(request.scratch);
    if (!scratch) {
        return std::unexpected(scratch.error());
    }
    if (auto written = record->write(*project, *scratch); !written) {
        return std::unexpected(written.error());
    }
    lock->release();
    return DefinedMounts{std::move(*record), std::move(*project), std::move(*scratch)};
}

// What the child inherits: the launcher's environment with the host paths rewritten, the roots,
// and the scratch mount for temporary files.
void prepare_environment(const SandboxMounts& mounts) {
    rewrite_environment(mounts);
    set_environment_variable("NORIX_PROJECT_ROOT", mounts.project.root);
    set_environment_variable("NORIX_SCRATCH_ROOT", mounts.scratch.root);
    set_environment_variable("TEMP", mounts.scratch.root);
    set_environment_variable("TMP", mounts.scratch.root);
}

// Every resource of the run is a guard declared in the order it is acquired, so that leaving
// the function by any way (a failure, the end of the run, a fatal stop unwinding) releases them
// in reverse: the mounts, then the SID.
[[nodiscard]] Result<ChildEnd> run_child(const SandboxRequest& request, StopSignal& stop,
                                         RunReport* report) {
    const auto sid = obtain_profile_sid(to_wide(request.profile));
    if (!sid) {
        return std::unexpected(sid.error());
    }
    std::string reported_sid;
    if (report != nullptr) {
        auto text = sid_text(sid->get());
        if (!text) {
            return std::unexpected(text.error());
        }
        reported_sid = std::move(*text);
    }
    // Until the child is resumed, a console event or the host's stop event stops the run at its
    // next step; before a grant especially, as grants outlast the run.
    if (stop.raised()) {
        return interrupted();
    }
    if (auto mountable = check_mountable(request); !mountable) {
        return std::unexpected(mountable.error());
    }
    if (auto granted = grant_both(request, sid->get(), stop); !granted) {
        return std::unexpected(granted.error());
    }
    const auto defined = define_mounts(request, stop, report);
    if (!defined) {
        return std::unexpected(defined.error());
    }
    if (stop.raised()) {
        return interrupted();
    }
    const SandboxMounts mounts =
        sandbox_mounts(request, mount_root(defined->project), mount_root(defined->scratch));
    prepare_environment(mounts);
    const auto program = resolve_program(request, mounts);
    if (!program) {
        return std::unexpected(program.error());
    }
    const std::string command_line =
        build_command_line(*program, translate_arguments(request, mounts));
    ChildLaunch launch{.app_container_sid = sid->get(),
                       .program = *program,
                       .command_line = command_line,
                       .current_directory = mounts.project.root,
                       .time_limit = request.timeout_milliseconds};
    if (report != nullptr) {
        launch.started = [&](DWORD child_pid) {
            const ReportedMount reported[] = {
                {"project", defined->project.drive(), mounts.project.host},
                {"scratch", defined->scratch.drive(), mounts.scratch.host}};
            return report->write(started_line(child_pid, reported_sid, reported));
        };
    }
    return launch_sandbox_child(launch, stop);
}

int status_of(const ChildEnd& ended) {
    switch (ended.kind) {
    case ChildEnd::Kind::TimedOut:
        return TIMED_OUT_STATUS;
    case ChildEnd::Kind::Stopped:
        return STOPPED_STATUS;
    case ChildEnd::Kind::Exited:
        break;
    }
    return ended.exit_code < 256 ? static_cast<int>(ended.exit_code) : FALLBACK_EXIT_CODE;
}

} // namespace

Result<int> run_sandbox(const SandboxRequest& request, StopSignal& stop) {
    forget_last_stage();
    // Both before anything the run changes: a host whose event or report cannot be had gets a
    // failure and nothing else.
    if (request.stop_event) {
        if (auto watched = stop.watch_host_event(*request.stop_event); !watched) {
            return std::unexpected(watched.error());
        }
    }
    std::optional<RunReport> report;
    if (request.report) {
        auto created = RunReport::create(*request.report, request);
        if (!created) {
            return std::unexpected(created.error());
        }
        report.emplace(std::move(*created));
    }
    Result<ChildEnd> ended;
    try {
        ended = run_child(request, stop, report ? &*report : nullptr);
    } catch (const FatalStop& fatal) {
        // The run has torn down on its way here; the entry, which alone handles the stop, ends
        // the process once the report has its closing line.
        if (report) {
            static_cast<void>(report->write(fatal_line(fatal.what())));
        }
        throw;
    }
    const int status = ended ? status_of(*ended) : FAILURE_EXIT_STATUS;
    if (report) {
        if (auto closed = report->write(closing_line(ended, status)); !closed) {
            return std::unexpected(closed.error());
        }
    }
    return ended ? Result<int>(status) : std::unexpected(ended.error());
}
