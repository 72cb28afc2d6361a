// A run's mount record: written once under the allocation lock, held open for the whole run so
// that a record whose launcher is gone is known as such, and deleted at the run's end. Letters
// left behind by a run that was cut off are traced through it: the next run on the same scratch
// directory removes them, or the cleanup program does.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/record_format.hpp"
#include "mounts/stale_record.hpp"

#include <optional>
#include <string>
#include <vector>

// What a run did with the record of a killed run that it found at its record path.
struct RecordRecovery {
    std::string record;                 // the record's path without "\\?\"
    std::vector<LetterOutcome> letters; // in the record's order
};

// A record this run wrote, open until it is deleted.
struct WrittenRecord {
    HANDLE file = INVALID_HANDLE_VALUE;
    WideString path;

    bool operator==(const WrittenRecord&) const = default;
};

// Closes the record, then deletes it. The deletion fails with a sharing violation while another
// run on the same scratch directory holds the record it rewrote: it is that run's now.
struct WrittenRecordTraits {
    using Type = WrittenRecord;
    static WrittenRecord none() { return {}; }
    static bool valid(const WrittenRecord& record) { return record.file != INVALID_HANDLE_VALUE; }
    static void release(const WrittenRecord& record) {
        CloseHandle(record.file);
        DeleteFileW(record.path.c_str());
    }
};

// Owns the record path and, once written, the open record. Destroying it closes the record and
// deletes it, ignoring failures; a record it never wrote stays. Move-only.
class MountRecord {
public:
    // The guard of mount_record_path(scratch); touches no disk.
    [[nodiscard]] static Result<MountRecord> for_scratch(const WideString& scratch);

    // Under the allocation lock, before write: a record at the path whose launcher has ended,
    // and whose scratch letter still maps onto this scratch directory, has its letters removed
    // where they still map onto its targets, then the file goes; anything else there that no
    // launcher holds (a link, a file of several names, a file that is no record, a record of
    // another directory or whose scratch letter is gone) goes too, its letters untouched. A record
    // that a running launcher holds stays, for write to rewrite. Gives what became of a recovered
    // record and its letters.
    [[nodiscard]] Result<std::optional<RecordRecovery>> recover();

    // Writes four NUL-terminated UTF-8 fields: the project's drive and target, then the scratch
    // directory's. The record is created new, never through a link, readable and writable only by
    // the user, SYSTEM and the administrators; one that another running launcher holds is
    // emptied and rewritten instead. Either way it stays open until the run ends.
    [[nodiscard]] Result<void> write(const DriveMapping& project, const DriveMapping& scratch);

    const WideString& record_path() const { return record_path_; }

private:
    MountRecord(WideString record_path, std::string scratch_target)
        : record_path_(std::move(record_path)), scratch_target_(std::move(scratch_target)) {}

    WideString record_path_;
    std::string scratch_target_;  // the raw target of a letter for this scratch directory
    bool held_elsewhere_ = false; // recover() found the record of a running launcher
    UniqueResource<WrittenRecordTraits> written_;
};
