// A drive letter defined onto a host directory for the length of a run.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"
#include "common/text.hpp"

#include <string>
#include <string_view>
#include <utility>

// What a drive letter's raw NT target starts with, before the host directory's display path.
inline constexpr std::string_view RAW_TARGET_PREFIX = "\\??\\";

// Removes the definition of `drive` ("Z:") whose raw target is exactly `target`; any other
// definition of the letter, stacked above or below it, stays. False, with the last error of
// DefineDosDeviceW, when there is none to remove or Windows refuses.
bool remove_drive_definition(const std::string& drive, const std::string& target);

// A DOS device definition: the drive ("Z:") and its raw NT target ("\??\C:\work\proj").
struct DriveDefinition {
    std::string drive; // empty: none
    std::string target;

    bool operator==(const DriveDefinition&) const = default;
};

struct DriveDefinitionTraits {
    using Type = DriveDefinition;
    static DriveDefinition none() { return {}; }
    static bool valid(const DriveDefinition& definition) { return !definition.drive.empty(); }
    static void release(const DriveDefinition& definition) {
        remove_drive_definition(definition.drive, definition.target);
    }
};

// One defined DOS device. Move-only; destroying it removes exactly this definition, so a
// definition of the same letter that someone else stacked on top, with another target, stays.
class DriveMapping {
public:
    const std::string& drive() const { return definition_.get().drive; }
    const std::string& target() const { return definition_.get().target; }

private:
    friend Result<DriveMapping> allocate_drive_mapping(const WideString& directory);
    explicit DriveMapping(DriveDefinition definition) : definition_(std::move(definition)) {}

    UniqueResource<DriveDefinitionTraits> definition_;
};

// Whether `directory` can have a letter: a local drive path can, a network share cannot. Touches
// nothing, so a run can refuse a share before it changes anything.
[[nodiscard]] Result<void> check_local_drive_path(const WideString& directory);

// Defines the highest free letter from Z: down to D: onto `directory` (a canonical local drive
// path). Call it only while holding the DriveAllocationLock.
[[nodiscard]] Result<DriveMapping> allocate_drive_mapping(const WideString& directory);

// The raw target that a letter for `directory` (canonical) is defined onto: "\??\" and the
// directory's display path.
std::string drive_target(const WideString& directory);

// The drive followed by one backslash ("Z:\").
std::string mount_root(const DriveMapping& mapping);
