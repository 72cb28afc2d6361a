// The report a host asks for with --report: a JSON Lines file that the child cannot write, so
// the host can tell the launcher's own outcome from whatever the child prints.
#pragma once

#include "common/failure.hpp"
#include "common/json_object.hpp"
#include "common/resource.hpp"
#include "common/sandbox_request.hpp"
#include "mounts/mount_record.hpp"
#include "run/launch.hpp"

#include <optional>
#include <span>
#include <string>

class RunReport {
public:
    // Creates the file at `path` (as typed), or empties the one there. It must lie outside the
    // request's project and scratch directories, where the child can write: the directory it is
    // to be made in is checked before anything is made, and the file itself once it is open (a
    // link there may lead into them), a file made there then being deleted again.
    [[nodiscard]] static Result<RunReport> create(const std::string& path,
                                                  const SandboxRequest& request);

    // Writes `line` and a line feed with one WriteFile, then flushes it to the disk, so a host
    // never reads half a line or loses one the launcher went on from. After a failure the report
    // is broken: this and every later write give the same failure, which names the report.
    [[nodiscard]] Result<void> write(const JsonObject& line);

private:
    RunReport(UniqueFile file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

    UniqueFile file_;
    std::string path_; // as typed
    std::optional<SandboxFailure> broken_;
};

// One mount as the report names it.
struct ReportedMount {
    std::string_view role; // "project" or "scratch"
    std::string drive;     // "Z:"
    std::string directory; // the host directory, display form
};

// The line of a killed run's record that this run recovered, with what became of its letters.
JsonObject recovered_line(const RecordRecovery& recovery);

// The line once the child is resumed.
JsonObject started_line(DWORD child_pid, std::string_view sid,
                        std::span<const ReportedMount> mounts);

// The one closing line of a run that ended as `ended` says, with the `status` the launcher exits
// with: "exited", "timeout", "stopped", "interrupted" or "failed".
JsonObject closing_line(const Result<ChildEnd>& ended, int status);

// The closing line of a run that a fatal stop ended, with that stop's reason.
JsonObject fatal_line(std::string_view reason);
