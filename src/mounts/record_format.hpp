// Where a run's mount record lies and what it holds: the file beside the scratch directory that
// names the run's two drive-letter definitions while they exist.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

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

// The path "<parent of scratch>\.<scratch name>.norix-native-sandbox-mounts"; touches no disk.
[[nodiscard]] Result<WideString> mount_record_path(const WideString& scratch);

// The record's bytes: each mount's drive, then its target, each followed by a NUL.
std::string record_bytes(const RecordedMounts& mounts);

// The mounts in a record's bytes: exactly four NUL-terminated UTF-8 fields, a drive (a letter from
// A to Z and a colon) then a target ("\??\" and a path), twice, and nothing after the fourth
// NUL. Anything else fails with "malformed mount record".
[[nodiscard]] Result<RecordedMounts> parse_mount_record(std::string_view bytes);
