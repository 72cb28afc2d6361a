#include "run/run_report.hpp"

#include "common/trace.hpp"
#include "common/windows_error.hpp"
#include "paths/path_elements.hpp"
#include "paths/path_forms.hpp"

namespace {

bool inside_a_mount(WideStringView path, const SandboxRequest& request) {
    return lies_within(path, request.project) || lies_within(path, request.scratch);
}

SandboxFailure outside_the_mounts(const std::string& path) {
    return SandboxFailure{"report must lie outside the project and scratch directories: " + path};
}

// The last stage reached, or null before the first.
JsonObject& add_stage(JsonObject& line) {
    const std::string_view stage = last_stage();
    return stage.empty() ? line.add_null("stage") : line.add_text("stage", stage);
}

} // namespace

Result<RunReport> RunReport::create(const std::string& path, const SandboxRequest& request) {
    const auto cannot_create = [&](DWORD code) {
        return std::unexpected(os_error_failure("cannot create report " + path, code));
    };
    const auto to_open = path_to_open(to_wide(path));
    if (!to_open) {
        return cannot_create(to_open.error());
    }
    // Where the file is to be, its folder's links followed but not one at its own name.
    const auto named = canonical_path_as_named(*to_open);
    if (!named) {
        return cannot_create(named.error());
    }
    if (inside_a_mount(*named, request)) {
        return std::unexpected(outside_the_mounts(path));
    }
    // Opened, not replaced: a file that a link leads to is only emptied once it is known to lie
    // outside the mounts.
    UniqueFile file(CreateFileW(to_open->c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, // the host reads it meanwhile
                                nullptr, // default security: not inheritable
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr)); // no template file
    if (!file) {
        return cannot_create(GetLastError());
    }
    const bool made_here = GetLastError() != ERROR_ALREADY_EXISTS;
    const auto final = final_path(file.get());
    if (!final) {
        return cannot_create(final.error());
    }
    if (inside_a_mount(*final, request)) {
        file.reset();
        if (made_here) {
            DeleteFileW(final->c_str());
        }
        return std::unexpected(outside_the_mounts(path));
    }
    if (!SetEndOfFile(file.get())) {
        return cannot_create(GetLastError());
    }
    return RunReport(std::move(file), path);
}

Result<void> RunReport::write(const JsonObject& line) {
    if (!broken_) {
        const std::string text = line.text() + "\n";
        DWORD written = 0;
        DWORD code = ERROR_SUCCESS;
        const BOOL wrote = WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()),
                                     &written, nullptr); // not overlapped
        if (wrote && written != text.size()) {
            code = ERROR_DISK_FULL; // a disk file takes every byte unless it has no room
        } else if (!wrote || !FlushFileBuffers(file_.get())) {
            code = GetLastError();
        }
        if (code != ERROR_SUCCESS) {
            broken_ = os_error_failure("cannot write report " + path_, code);
        }
    }
    if (broken_) {
        return std::unexpected(*broken_);
    }
    return {};
}

JsonObject recovered_line(const RecordRecovery& recovery) {
    std::vector<JsonObject> letters;
    letters.reserve(recovery.letters.size());
    for (const LetterOutcome& letter : recovery.letters) {
        letters.push_back(JsonObject()
                              .add_text("drive", letter.mount.drive)
                              .add_text("target", letter.mount.target)
                              .add_text("outcome", fate_text(letter.fate)));
    }
    return JsonObject()
        .add_text("event", "recovered")
        .add_text("record", recovery.record)
        .add_objects("letters", letters);
}

JsonObject started_line(DWORD child_pid, std::string_view sid,
                        std::span<const ReportedMount> mounts) {
    std::vector<JsonObject> listed;
    for (const ReportedMount& mount : mounts) {
        listed.push_back(JsonObject()
                             .add_text("role", mount.role)
                             .add_text("drive", mount.drive)
                             .add_text("directory", mount.directory));
    }
    return JsonObject()
        .add_text("event", "started")
        .add_number("launcher_pid", GetCurrentProcessId())
        .add_number("child_pid", child_pid)
        .add_text("sid", sid)
        .add_objects("mounts", listed);
}

JsonObject closing_line(const Result<ChildEnd>& ended, int status) {
    JsonObject line;
    if (ended) {
        switch (ended->kind) {
        case ChildEnd::Kind::Exited:
            line.add_text("event", "exited").add_number("exit_code", ended->exit_code);
            break;
        case ChildEnd::Kind::TimedOut:
            line.add_text("event", "timeout");
            break;
        case ChildEnd::Kind::Stopped:
            line.add_text("event", "stopped");
            break;
        }
        return line.add_number("status", static_cast<std::uint64_t>(status));
    }
    const SandboxFailure& failed = ended.error();
    if (failed.message == INTERRUPTION) {
        line.add_text("event", "interrupted")
            .add_number("status", static_cast<std::uint64_t>(status));
        return add_stage(line);
    }
    line.add_text("event", "failed")
        .add_number("status", static_cast<std::uint64_t>(status))
        .add_text("message", failed.message);
    add_stage(line);
    if (failed.code) {
        line.add_number(failed.code->kind == WindowsCode::Kind::Win32 ? "win32" : "hresult",
                        failed.code->value);
    }
    if (!failed.program.empty()) {
        line.add_text("program", failed.program);
        if (failed.code) {
            line.add_text("system_message", system_message(failed.code->value));
        }
    }
    return line;
}

JsonObject fatal_line(std::string_view reason) {
    JsonObject line;
    line.add_text("event", "failed")
        .add_number("status", static_cast<std::uint64_t>(FATAL_EXIT_STATUS))
        .add_text("message", reason);
    return add_stage(line);
}
