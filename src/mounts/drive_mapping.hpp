// A drive letter defined onto a host directory for the length of a run.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

#include <string>
#include <string_view>

// What a drive letter's raw NT target starts with, before the host directory's display path.
inline constexpr std::string_view RAW_TARGET_PREFIX = "\\??\\";

// One defined DOS device: `drive` ("Z:") and its raw NT `target` ("\??\C:\work\proj"). Move-only;
// destroying it removes exactly this definition, so a definition of the same letter that someone
// else stacked on top, with another target, stays.
class DriveMapping {
public:
    DriveMapping(DriveMapping&& other) noexcept;
    DriveMapping& operator=(DriveMapping&& other) noexcept;
    DriveMapping(const DriveMapping&) = delete;
    DriveMapping& operator=(const DriveMapping&) = delete;
    ~DriveMapping() { remove(); }

    const std::string& drive() const { return drive_; }
    const std::string& target() const { return target_; }

private:
    friend Result<DriveMapping> allocate_drive_mapping(const WideString& directory);
    DriveMapping(std::string drive, std::string target)
        : drive_(std::move(drive)), target_(std::move(target)) {}

    void remove();

    std::string drive_; // empty once moved from
    std::string target_;
};

// Whether `directory` can have a letter: a local drive path can, a network share cannot. Touches
// nothing, so a run can refuse a share before it changes anything.
Result<void> check_local_drive_path(const WideString& directory);

// Defines the highest free letter from Z: down to D: onto `directory` (a canonical local drive
// path). Call it only while holding the DriveAllocationLock.
Result<DriveMapping> allocate_drive_mapping(const WideString& directory);

// Removes the definition of `drive` ("Z:") whose raw target is exactly `target`; any other
// definition of the letter, stacked above or below it, stays. False, with the last error of
// DefineDosDeviceW, when there is none to remove or Windows refuses.
bool remove_drive_definition(const std::string& drive, const std::string& target);

// The raw target that a letter for `directory` (canonical) is defined onto: "\??\" and the
// directory's display path.
std::string drive_target(const WideString& directory);

// The drive followed by one backslash ("Z:\").
std::string mount_root(const DriveMapping& mapping);
