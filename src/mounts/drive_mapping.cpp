#include "mounts/drive_mapping.hpp"

#include "paths/path_forms.hpp"

#include <string_view>

bool remove_drive_definition(const std::string& drive, const std::string& target) {
    const WideString wide_drive = to_wide(drive);
    const WideString wide_target = to_wide(target);
    return DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION |
                                DDD_EXACT_MATCH_ON_REMOVE | DDD_NO_BROADCAST_SYSTEM,
                            wide_drive.c_str(), wide_target.c_str()) != FALSE;
}

namespace {

// Only drive paths can be DOS device targets here; a share ("\\server\share") fails on its second
// character.
[[nodiscard]] Result<void> local_drive_only(std::string_view display) {
    if (display.size() < 2 || display[1] != ':') {
        return failure("Windows sandbox mounts must use local drive paths");
    }
    return {};
}

} // namespace

Result<void> check_local_drive_path(const WideString& directory) {
    return local_drive_only(display_path(directory));
}

std::string drive_target(const WideString& directory) {
    return std::string(RAW_TARGET_PREFIX) + display_path(directory);
}

Result<DriveMapping> allocate_drive_mapping(const WideString& directory) {
    const std::string display = display_path(directory);
    if (auto local = local_drive_only(display); !local) {
        return std::unexpected(local.error());
    }
    const std::string target = drive_target(directory);
    const WideString wide_target = to_wide(target);
    for (char letter = 'Z'; letter >= 'D'; --letter) {
        const std::string drive{letter, ':'};
        const WideString wide_drive = to_wide(drive);
        // Too small for any target on purpose: a defined letter fails with 122, and only 2 says
        // the letter is free.
        WCHAR listing[4] = {};
        if (QueryDosDeviceW(wide_drive.c_str(), listing, 4) != 0 ||
            GetLastError() != ERROR_FILE_NOT_FOUND) {
            continue;
        }
        // A letter Windows refuses (protected, or defined meanwhile) is passed over.
        if (DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_NO_BROADCAST_SYSTEM, wide_drive.c_str(),
                             wide_target.c_str()) != FALSE) {
            return DriveMapping({drive, target});
        }
    }
    return failure("no DOS drive slot is available for the native sandbox");
}

std::string mount_root(const DriveMapping& mapping) {
    return mapping.drive() + "\\";
}
