#include "mounts/mount_record.hpp"

#include "common/trace.hpp"
#include "common/windows_error.hpp"
#include "common/write_all.hpp"
#include "mounts/owner_only_security.hpp"

#include <utility>

namespace {

// Shared for writing so that another run on the same scratch directory can rewrite it; not for
// deletion, so that nobody deletes it while it is held.
constexpr DWORD RECORD_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::unexpected<SandboxFailure> write_failure(DWORD error) {
    return std::unexpected(os_error_failure("cannot write sandbox mount record", error));
}

// The record of a running launcher, emptied; fails with ERROR_FILE_NOT_FOUND when that run has
// deleted it meanwhile.
UniqueFile open_held(const WideString& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE, RECORD_SHARING,
                                  nullptr, // the holder's record keeps its own security
                                  TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr)); // no template file
}

} // namespace

Result<MountRecord> MountRecord::for_scratch(const WideString& scratch) {
    auto path = mount_record_path(scratch);
    if (!path) {
        return std::unexpected(path.error());
    }
    return MountRecord(std::move(*path), drive_target(scratch));
}

Result<std::optional<RecordRecovery>> MountRecord::recover() {
    auto standing = StandingRecord::open(record_path_);
    if (!standing) {
        return std::unexpected(standing.error());
    }
    std::optional<RecordRecovery> recovery;
    switch (standing->state()) {
    case StandingRecord::State::Absent:
        return recovery;
    case StandingRecord::State::Held:
        held_elsewhere_ = true;
        return recovery;
    case StandingRecord::State::Record: {
        const auto ours = standing->still_mounts_scratch(scratch_target_);
        if (!ours) {
            return std::unexpected(ours.error());
        }
        if (!*ours) {
            break;
        }
        trace_stage("recover-record", record_path_);
        recovery = RecordRecovery{standing->shown(), {}};
        if (auto removed = standing->remove_letters(recovery->letters); !removed) {
            return std::unexpected(removed.error());
        }
        break;
    }
    case StandingRecord::State::Link:
    case StandingRecord::State::MoreNames:
    case StandingRecord::State::Malformed:
        break;
    }
    if (auto removed = standing->remove(); !removed) {
        return std::unexpected(removed.error());
    }
    return recovery;
}

Result<void> MountRecord::write(const DriveMapping& project, const DriveMapping& scratch) {
    const std::string content = record_bytes(
        {RecordedMount{project.drive(), project.target()}, {scratch.drive(), scratch.target()}});
    UniqueFile file;
    if (held_elsewhere_) {
        file = open_held(record_path_);
        if (!file && GetLastError() != ERROR_FILE_NOT_FOUND) {
            return write_failure(GetLastError());
        }
    }
    if (!file) {
        auto security = OwnerOnlySecurity::make();
        if (!security) {
            return std::unexpected(security.error());
        }
        // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: a link or any other name that appeared
        // at the path since recover() makes this fail; nothing is written through it.
        file.reset(CreateFileW(record_path_.c_str(), GENERIC_WRITE, RECORD_SHARING,
                               security->attributes(), CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr)); // no template file
        if (!file) {
            return write_failure(GetLastError());
        }
    }
    // From here on the record is this run's to delete, written whole or not.
    written_.reset({file.release(), record_path_});
    if (!write_file_all(written_.get().file, content)) {
        return write_failure(GetLastError());
    }
    return {};
}
