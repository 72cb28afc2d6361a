// The file beside the scratch directory that names a run's two drive-letter definitions while
// they exist, so that letters left behind by a run that was cut off can be traced. Written once,
// never read by the launcher; the cleanup program reads it.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"
#include "mounts/drive_mapping.hpp"

#include <array>
#include <string>
#include <string_view>

// One definition as a record names it: the texts of the DriveMapping it was written from.
struct RecordedMount {
    std::string drive;  // "Z:"
    std::string target; // "\??\C:\work\proj"

    bool operator==(const RecordedMount&) const = default;
};

// The project's mount, then the scratch directory's.
using RecordedMounts = std::array<RecordedMount, 2>;

// The mounts in a record's bytes: exactly four NUL-terminated UTF-8 fields, a drive (a letter from
// A to Z and a colon) then a target ("\??\" and a path), twice, and nothing after the fourth
// NUL. Anything else fails with "malformed mount record".
Result<RecordedMounts> parse_mount_record(std::string_view bytes);

// Owns the record file's path; destroying it deletes the file (whether or not this run wrote it),
// ignoring failures. Move-only.
class MountRecord {
public:
    // The path "<parent of scratch>\.<scratch name>.norix-native-sandbox-mounts"; touches no disk.
    static Result<MountRecord> for_scratch(const WideString& scratch);

    // The path that for_scratch gives, without a guard that would delete the file; touches no
    // disk. Lets a run refuse a scratch directory that can have no record before it changes
    // anything.
    static Result<WideString> path_for_scratch(const WideString& scratch);

    MountRecord(MountRecord&& other) noexcept;
    MountRecord& operator=(MountRecord&& other) noexcept;
    MountRecord(const MountRecord&) = delete;
    MountRecord& operator=(const MountRecord&) = delete;
    ~MountRecord() { remove(); }

    // Replaces the file with four NUL-terminated UTF-8 fields: the project's drive and target,
    // then the scratch directory's.
    Result<void> write(const DriveMapping& project, const DriveMapping& scratch) const;

    const WideString& record_path() const { return record_path_; }

private:
    explicit MountRecord(WideString record_path) : record_path_(std::move(record_path)) {}

    void remove();

    WideString record_path_; // empty once moved from
};
