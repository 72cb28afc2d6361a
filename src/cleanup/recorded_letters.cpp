#include "cleanup/recorded_letters.hpp"

#include "common/windows_error.hpp"
#include "mounts/drive_allocation_lock.hpp"
#include "mounts/stale_record.hpp"
#include "paths/path_elements.hpp"
#include "paths/path_forms.hpp"

#include <expected>

namespace {

// The record named by the argument: a directory is a scratch directory with its record beside
// it, under the name the launcher gives it; anything else is the record itself, taken in its
// folder's final path under its own name, so that a link there is opened as the link it is.
[[nodiscard]] Result<WideString> record_path_of(const WideString& argument) {
    const auto canonical = canonical_path(argument);
    const auto attributes =
        canonical ? file_attributes(*canonical) : std::unexpected(canonical.error());
    if (!attributes) {
        return std::unexpected(
            os_error_failure("cannot resolve " + to_utf8(argument), attributes.error()));
    }
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return mount_record_path(*canonical);
    }
    const auto named = canonical_path_as_named(argument);
    if (!named) {
        return std::unexpected(
            os_error_failure("cannot resolve " + to_utf8(argument), named.error()));
    }
    return *named;
}

// Why the cleanup leaves what stands at the record path alone, if it does.
std::optional<SandboxFailure> refusal(const StandingRecord& record) {
    const std::string& shown = record.shown();
    switch (record.state()) {
    case StandingRecord::State::Absent:
        return os_error_failure("cannot read mount record " + shown, ERROR_FILE_NOT_FOUND);
    case StandingRecord::State::Held:
        return SandboxFailure{"mount record is held by a running launcher: " + shown};
    case StandingRecord::State::Link:
        return SandboxFailure{"mount record is a link: " + shown};
    case StandingRecord::State::MoreNames:
        return SandboxFailure{"mount record has more than one name: " + shown};
    case StandingRecord::State::Malformed:
        return SandboxFailure{"malformed mount record: " + shown};
    case StandingRecord::State::Record:
        break;
    }
    return std::nullopt;
}

} // namespace

Result<void> remove_recorded_letters(const WideString& argument, std::string& report) {
    const auto record = record_path_of(argument);
    if (!record) {
        return std::unexpected(record.error());
    }
    // Held until the record is gone: a launcher that starts meanwhile on the same scratch
    // directory writes its own record at this path, which must not be the one deleted.
    const auto lock = DriveAllocationLock::acquire();
    if (!lock) {
        return std::unexpected(lock.error());
    }
    auto standing = StandingRecord::open(*record);
    if (!standing) {
        return std::unexpected(standing.error());
    }
    if (auto refused = refusal(*standing)) {
        return std::unexpected(std::move(*refused));
    }
    std::vector<LetterOutcome> outcomes;
    const auto removed = standing->remove_letters(outcomes);
    for (const LetterOutcome& outcome : outcomes) {
        report += outcome.mount.drive + " " + outcome.mount.target + ": " +
                  std::string(fate_text(outcome.fate)) + "\n";
    }
    if (!removed) {
        return std::unexpected(removed.error());
    }
    return standing->remove();
}
